#include "app/port_choice.h"

#include "ui/com_setup.h"

namespace skarvel {

namespace {

constexpr const char* kDefaultPort = "COM2";

}  // namespace

TPortChoice ChoosePort(const std::string& commandLine, const std::string& remembered,
                       const std::function<std::vector<TPortInfo>()>& listPorts) {
    TPortChoice choice;
    if (!commandLine.empty()) {
        choice.Port = commandLine;
        choice.Remember = false;
        return choice;
    }
    if (!remembered.empty()) {
        choice.Port = remembered;
        return choice;
    }
    const std::vector<TPortInfo> present = listPorts ? listPorts() : std::vector<TPortInfo>();
    const TPortInfo* adapter = nullptr;
    int adapters = 0;
    for (const TPortInfo& p : present) {
        if (PortNamed(p, kDefaultPort)) return choice;  // the default is there
        if (p.Usb) {
            adapter = &p;
            ++adapters;
        }
    }
    if (adapters != 1) return choice;
    choice.Port = RememberedName(*adapter);
    choice.Note = QStringLiteral("порта ") + QString::fromLatin1(kDefaultPort) +
                  QStringLiteral(" нет, выбран USB-адаптер ") + PortLabel(*adapter);
    return choice;
}

}  // namespace skarvel
