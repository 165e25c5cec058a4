#include "tools/zvt/console.h"

#include <unistd.h>

namespace skarvel::zvtcmd {

bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

const char* PortOptionHelp() {
    return "  --port NAME   serial port: /dev/... path, COMn (= /dev/ttyS(n-1)), a name under /dev\n"
           "                or an adapter's name under /dev/serial/by-id (as zvt ports shows it)\n"
           "                (default: the port the Skarvel window last worked on, else COM2)\n";
}

}  // namespace skarvel::zvtcmd
