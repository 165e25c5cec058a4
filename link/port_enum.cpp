// What the port lists of all platforms share.
#include "link/port_enum.h"

#include <algorithm>
#include <cctype>

#include "link/cport.h"

namespace skarvel {

namespace {

int CompareNoCase(const std::string& a, const std::string& b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const int ca = std::tolower(static_cast<unsigned char>(a[i]));
        const int cb = std::tolower(static_cast<unsigned char>(b[i]));
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool NameBefore(const std::string& a, const std::string& b) {
    const int c = CompareNoCase(a, b);
    return c != 0 ? c < 0 : a < b;
}

}  // namespace

void SortPortNames(std::vector<std::string>& names) { std::sort(names.begin(), names.end(), NameBefore); }

void SortPorts(std::vector<TPortInfo>& ports) {
    std::sort(ports.begin(), ports.end(),
              [](const TPortInfo& a, const TPortInfo& b) { return NameBefore(a.Name, b.Name); });
}

void ListComPorts(std::vector<std::string>& out) {
    std::vector<TPortInfo> ports;
    ListPorts(ports);
    std::vector<std::string> names;
    for (const TPortInfo& p : ports) names.push_back(p.Name);
    out.swap(names);
}

std::string PortDescription(const TPortInfo& port) {
    if (port.Usb) {
        std::string what = !port.Model.empty() ? port.Model : port.Vendor;
        if (!port.Serial.empty()) what += what.empty() ? port.Serial : " (" + port.Serial + ")";
        if (!what.empty()) return what;
    }
    return !port.Model.empty() ? port.Model : port.Driver;
}

std::string RememberedName(const TPortInfo& port) { return port.ById.empty() ? port.Name : port.ById; }

bool PortNamed(const TPortInfo& port, const std::string& name) {
    const std::string path = ComDevicePath(name);
    if (path.empty()) return false;
    if (SamePort(port.Name, name) || SamePort(port.Path, name)) return true;
    return std::find(port.Links.begin(), port.Links.end(), path) != port.Links.end();
}

}  // namespace skarvel
