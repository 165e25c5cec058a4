// Port enumeration on Linux: the serial devices listed in sysfs.
#include "link/port_enum_linux.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>

#include "link/cport.h"
#include "link/port_enum.h"

namespace skarvel {

namespace {

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// The UART type the serial core reports; 0 (unknown) for a port that is
// configured but has no hardware behind it, and for ttys that are no UARTs.
long UartType(const std::string& entry) {
    std::ifstream in(entry + "/type");
    std::string line;
    if (!in || !std::getline(in, line)) return 0;
    char* end = nullptr;
    const long type = std::strtol(line.c_str(), &end, 10);
    return end == line.c_str() ? 0 : type;
}

bool HasDevice(const std::string& entry) {
    struct stat st {};
    return lstat((entry + "/device").c_str(), &st) == 0;
}

// The bus of the device behind the tty ("usb", "usb-serial", "platform", ...).
std::string DeviceSubsystem(const std::string& entry) {
    char buf[256];
    const ssize_t n = readlink((entry + "/device/subsystem").c_str(), buf, sizeof buf - 1);
    if (n <= 0) return std::string();
    const std::string target(buf, static_cast<size_t>(n));
    const size_t slash = target.rfind('/');
    return slash == std::string::npos ? target : target.substr(slash + 1);
}

bool IsSerialPort(const std::string& root, const std::string& name) {
    const std::string entry = root + "/" + name;
    // 8250-style ports are all listed whether or not a UART answers there.
    if (StartsWith(name, "ttyS")) return UartType(entry) != 0;
    // USB serial adapters and modems exist only while plugged in.
    if (StartsWith(name, "ttyUSB") || StartsWith(name, "ttyACM")) return true;
    // Consoles, ptys and virtual terminals have no device behind them.
    if (!HasDevice(entry)) return false;
    if (UartType(entry) != 0) return true;  // other UART drivers (ttyAMA, ttymxc, ...)
    const std::string bus = DeviceSubsystem(entry);
    return bus == "usb" || bus == "usb-serial";  // vendor USB serial drivers
}

}  // namespace

void ListComPorts(std::vector<std::string>& out) { ListComPorts(out, "/sys/class/tty"); }

void ListComPorts(std::vector<std::string>& out, const std::string& ttyClassDir) {
    DIR* dir = opendir(ttyClassDir.c_str());
    if (!dir) throw EComPort(CE_REGISTRY, errno);
    std::vector<std::string> names;
    for (;;) {
        errno = 0;
        const dirent* e = readdir(dir);
        if (!e) {
            const int err = errno;
            closedir(dir);
            if (err != 0) throw EComPort(CE_REGISTRY, err);
            break;
        }
        const std::string name = e->d_name;
        if (name.empty() || name[0] == '.') continue;
        if (IsSerialPort(ttyClassDir, name)) names.push_back(name);
    }
    SortPortNames(names);
    out.swap(names);
}

bool SamePort(const std::string& a, const std::string& b) {
    const std::string pa = ComDevicePath(a);
    return !pa.empty() && pa == ComDevicePath(b);
}

}  // namespace skarvel
