// Per-platform tuning of the threads the project starts.
#pragma once

namespace skarvel {

// Called at the start of every TThread. On Linux it asks for timed waits
// without the kernel's default slack of 50 us: the driver sleeps 1 ms after
// each exchange, and on a 115200 baud line every such lag is lost time.
// On Windows the same lag comes from the system timer's tick, which is the
// process's: thread_tune_win.cpp asks for a 1 ms tick for the program's
// whole run, and nothing is left to do per thread.
void TuneThisThread();

}  // namespace skarvel
