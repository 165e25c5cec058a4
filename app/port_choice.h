// Which port the window starts on: the one named on the command line (for
// this run only), else the one the user chose last time in the port dialog,
// else the default COM2 — but on a first start, when COM2 is not there and
// exactly one USB serial adapter is, that adapter. Plain data; any thread.
#pragma once

#include <QString>
#include <functional>
#include <string>
#include <vector>

#include "link/port_enum.h"

namespace skarvel {

struct TPortChoice {
    std::string Port;      // empty: the driver's own (COM2)
    bool Remember = true;  // the port dialog's OK remembers the port (not in a --port run)
    QString Note;          // for the status line, when the choice needs a word
};

// commandLine: --port's name, empty without; remembered: the port the
// settings hold, empty when none; listPorts gives the ports present, and is
// asked only when neither names a port.
TPortChoice ChoosePort(const std::string& commandLine, const std::string& remembered,
                       const std::function<std::vector<TPortInfo>()>& listPorts);

}  // namespace skarvel
