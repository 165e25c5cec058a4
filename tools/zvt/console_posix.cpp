#include "tools/zvt/console.h"

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>

namespace skarvel::zvtcmd {

namespace {

void Put(std::FILE* to, std::string_view utf8) { std::fwrite(utf8.data(), 1, utf8.size(), to); }

}  // namespace

// stdout stays buffered (a long listing into a pipe); a message on stderr
// flushes what came before it, so that both read in order in a terminal or
// a file that takes the two.
void PrintOut(std::string_view utf8) { Put(stdout, utf8); }

void PrintErr(std::string_view utf8) {
    std::fflush(stdout);
    Put(stderr, utf8);
    std::fflush(stderr);
}

TWriteOut WriteOutBytes(const void* data, size_t size) {
    // A reader that quits early (less, head) is no failure: the write fails
    // with EPIPE instead of ending zvt with the port still open.
    std::signal(SIGPIPE, SIG_IGN);
    std::fflush(stdout);
    const auto* p = static_cast<const char*>(data);
    for (size_t at = 0; at < size;) {
        const ssize_t n = write(STDOUT_FILENO, p + at, size - at);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EPIPE) return TWriteOut::ReaderGone;
        if (n <= 0) return TWriteOut::Failed;
        at += static_cast<size_t>(n);
    }
    return TWriteOut::Written;
}

bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

const char* PortOptionHelp() {
    return "  --port ИМЯ    последовательный порт: путь /dev/..., COMn (= /dev/ttyS(n-1)),\n"
           "                имя в /dev или имя адаптера в /dev/serial/by-id (zvt ports)\n"
           "                (по умолчанию порт, на котором последним работало окно Skarvel,\n"
           "                иначе COM2)\n";
}

}  // namespace skarvel::zvtcmd
