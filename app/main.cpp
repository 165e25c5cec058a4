// The program entry.
//
//   skarvel [--port NAME] [--new-instance] [--] [FILE...]
//
// --port chooses the serial port to start with instead of COM2 (for example
// the pty of the device simulator). FILEs become pending rows, in the window
// already running in this session if there is one (see app/program.h).
#include "app/program.h"

int main(int argc, char** argv) { return skarvel::RunProgram(argc, argv); }
