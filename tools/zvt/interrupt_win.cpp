// Stop requests on Windows: the console's control handler, which runs on a
// thread of its own.
#include "tools/zvt/interrupt.h"

#include <windows.h>

#include <atomic>

namespace skarvel {

namespace {

std::atomic<int> g_signal{0};
HANDLE g_done = nullptr;  // set once the run has closed the port

BOOL WINAPI NoteControl(DWORD type) {
    int sig = 15;
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT) sig = 2;
    else if (type == CTRL_CLOSE_EVENT) sig = 1;
    // A second request ends the program at once (the default handler).
    if (g_signal.exchange(sig) != 0) return FALSE;
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT) return TRUE;
    // Closing the console, logging off, shutting down: the process ends as
    // soon as this returns, so it waits for the run to leave the line in
    // order (Windows allows a handler about five seconds).
    if (g_done) WaitForSingleObject(g_done, 4500);
    return TRUE;
}

}  // namespace

void CatchInterrupts() {
    g_done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(NoteControl, TRUE);
}

int InterruptSignal() { return g_signal.load(); }

void InterruptsDone() {
    if (g_done) SetEvent(g_done);
}

}  // namespace skarvel
