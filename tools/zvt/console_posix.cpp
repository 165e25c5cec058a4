#include "tools/zvt/console.h"

#include <unistd.h>

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

bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

const char* PortOptionHelp() {
    return "  --port ИМЯ    последовательный порт: путь /dev/..., COMn (= /dev/ttyS(n-1)),\n"
           "                имя в /dev или имя адаптера в /dev/serial/by-id (zvt ports)\n"
           "                (по умолчанию порт, на котором последним работало окно Skarvel,\n"
           "                иначе COM2)\n";
}

}  // namespace skarvel::zvtcmd
