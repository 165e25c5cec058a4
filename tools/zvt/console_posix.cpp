#include "tools/zvt/console.h"

#include <unistd.h>

namespace skarvel::zvtcmd {

bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

const char* PortOptionHelp() {
    return "  --port NAME   serial port: /dev/... path, COMn (= /dev/ttyS(n-1)) or a name under /dev\n"
           "                (default COM2)\n";
}

}  // namespace skarvel::zvtcmd
