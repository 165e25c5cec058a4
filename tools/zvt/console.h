// What the command-line client's terminal side differs in per platform
// (console_posix.cpp, console_win.cpp).
#pragma once

namespace skarvel::zvtcmd {

// True when stderr is a terminal (the progress bar is drawn only there).
bool StderrIsTerminal();

// The help lines of --port: how port names are written on this system.
const char* PortOptionHelp();

}  // namespace skarvel::zvtcmd
