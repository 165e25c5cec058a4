#include "tools/zvt/console.h"

#include <windows.h>

namespace skarvel::zvtcmd {

bool StderrIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

const char* PortOptionHelp() {
    return "  --port NAME   serial port: COMn (COM10 and above too) or a \\\\.\\ device path\n"
           "                (default: the port the Skarvel window last worked on, else COM2)\n";
}

}  // namespace skarvel::zvtcmd
