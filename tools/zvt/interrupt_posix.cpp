// Stop requests on POSIX systems: signal handlers that only note the signal.
#include "tools/zvt/interrupt.h"

#include <csignal>
#include <initializer_list>

namespace skarvel {

namespace {

volatile std::sig_atomic_t g_signal = 0;

extern "C" void NoteSignal(int sig) { g_signal = sig; }

}  // namespace

void CatchInterrupts() {
    struct sigaction sa {};
    sa.sa_handler = NoteSignal;
    sigemptyset(&sa.sa_mask);
    // The first signal is noted; the handler is then reset, so a second one
    // ends the program at once. Interrupted reads and waits go on.
    sa.sa_flags = SA_RESETHAND | SA_RESTART;
    for (int sig : {SIGINT, SIGHUP, SIGTERM}) sigaction(sig, &sa, nullptr);
}

int InterruptSignal() { return g_signal; }

void InterruptsDone() {}

}  // namespace skarvel
