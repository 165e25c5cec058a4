// What ends a run of zvt from outside: Ctrl-C, a closed terminal, a kill
// that can be caught (SIGINT, SIGHUP, SIGTERM; on Windows the console's
// Ctrl-C, Ctrl-Break and close events). The first one only asks the run to
// stop: the request under way ends at its next cluster, and the port is
// closed the usual way, after the line has settled, so that no answer of
// this run reaches the program that uses the line next. A second one ends
// the program at once. One implementation per platform: interrupt_posix.cpp,
// interrupt_win.cpp.
#pragma once

namespace skarvel {

// Installs the handlers; call once, before the port opens.
void CatchInterrupts();
// The signal that asked the run to stop (SIGINT 2, SIGHUP 1, SIGTERM 15;
// the console's events on Windows are given these numbers too), 0 while none
// has. Any thread.
int InterruptSignal();
// The run has closed the port: a handler that holds the process open until
// then (Windows ends a process whose console closes once its handler
// returns) may let it go.
void InterruptsDone();

}  // namespace skarvel
