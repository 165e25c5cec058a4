// zvt ports: the serial ports present, with what the system knows of each,
// and the port a command of zvt would use.
#include <algorithm>
#include <string>
#include <vector>

#include "core/settings_store.h"
#include "link/cport.h"
#include "link/port_enum.h"
#include "tools/zvt/commands.h"
#include "tools/zvt/console.h"

namespace skarvel::zvtcmd {

std::string DefaultPort() {
    // Where the window last worked (its port dialog closed with OK).
    const std::string remembered = ReadSetting(kPortNameKey);
    return remembered.empty() ? "COM2" : remembered;
}

int CmdPorts(const std::string& port) {
    std::vector<TPortInfo> ports;
    try {
        ListPorts(ports);
    } catch (const EComPort& e) {
        Fail(std::string("не удалось получить список последовательных портов: ") + e.what());
        return 1;
    }
    size_t nameWidth = 0, textWidth = 0;
    for (const TPortInfo& p : ports) {
        nameWidth = std::max(nameWidth, Utf8Length(p.Name));
        textWidth = std::max(textWidth, Utf8Length(PortDescription(p)));
    }
    const auto pad = [](std::string s, size_t width) {
        const size_t shown = Utf8Length(s);
        if (shown < width) s.append(width - shown, ' ');
        return s;
    };
    // One line a port: "*" for the port a command would use, the name, what
    // the port is, and the adapter's stable name (what --port also takes).
    bool marked = false;
    for (const TPortInfo& p : ports) {
        const bool used = PortNamed(p, port);
        marked = marked || used;
        std::string line = std::string(used ? "* " : "  ") + pad(p.Name, nameWidth);
        if (textWidth > 0) line += "  " + pad(PortDescription(p), textWidth);
        if (!p.ById.empty()) line += "  " + p.ById;
        while (!line.empty() && line.back() == ' ') line.pop_back();
        PrintOut(line + "\n");
    }
    if (!marked) PrintOut("* " + port + "  (нет в системе)\n");
    return 0;
}

}  // namespace skarvel::zvtcmd
