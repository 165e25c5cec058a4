// Marks of the program's start for the benchmark. With SKARVEL_START_TRACE
// set in the environment, each mark is one line on standard error:
// "skarvel-start <what> <ms>", the milliseconds being the system's steady
// clock (the one a launcher reads before it starts the program). Without the
// variable nothing is written.
//
// Main thread only.
#pragma once

namespace skarvel {

class TForm1;

void StartMark(const char* what);

// Marks "window" when the window is first exposed on the screen, "link" when
// the device first answers the identification and "list" when the medium's
// first list is in the window.
void TraceWindowStart(TForm1& form);

}  // namespace skarvel
