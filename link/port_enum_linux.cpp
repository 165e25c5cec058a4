// Port enumeration on Linux: the tty devices udev knows that are serial
// lines, with what udev knows of each (the USB adapter's maker, model and
// serial number, the driver, the stable names under /dev/serial/).
#include "link/port_enum_linux.h"

#include <libudev.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <sstream>

#include "link/cport.h"

namespace skarvel {

namespace {

bool StartsWith(const char* s, const char* prefix) { return s && std::strncmp(s, prefix, std::strlen(prefix)) == 0; }

std::string Str(const char* s) { return s ? std::string(s) : std::string(); }

// A sysfs attribute without the line end the kernel gives it.
std::string Attribute(udev_device* d, const char* name) {
    std::string v = d ? Str(udev_device_get_sysattr_value(d, name)) : std::string();
    while (!v.empty() && (v.back() == '\n' || v.back() == ' ')) v.pop_back();
    return v;
}

std::string Property(udev_device* d, const char* name) { return Str(udev_device_get_property_value(d, name)); }

// udev's *_ENC properties carry the device's own string with blanks and
// other awkward bytes as \xHH.
std::string DecodeUdevString(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() && s[i + 1] == 'x') {
            const std::string hex = s.substr(i + 2, 2);
            char* end = nullptr;
            const long v = std::strtol(hex.c_str(), &end, 16);
            if (end == hex.c_str() + 2) {
                out += static_cast<char>(v);
                i += 3;
                continue;
            }
        }
        out += s[i];
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

// The first of the texts that is not empty.
std::string FirstOf(std::initializer_list<std::string> texts) {
    for (const std::string& t : texts)
        if (!t.empty()) return t;
    return std::string();
}

// The UART type the serial core reports; 0 (unknown) for a port that is
// configured but has no hardware behind it, and for ttys that are no UARTs.
long UartType(udev_device* tty) {
    const std::string type = Attribute(tty, "type");
    char* end = nullptr;
    const long v = std::strtol(type.c_str(), &end, 10);
    return end == type.c_str() ? 0 : v;
}

// The driver of the nearest device above the tty that has one. The serial
// core's own port devices ("serial-base", driver "port") stand between an
// 8250 port and its driver and say nothing about the hardware.
std::string DriverAbove(udev_device* tty) {
    for (udev_device* d = udev_device_get_parent(tty); d; d = udev_device_get_parent(d)) {
        if (StartsWith(udev_device_get_subsystem(d), "serial-base")) continue;
        if (const char* drv = udev_device_get_driver(d)) return drv;
    }
    return std::string();
}

std::vector<std::string> Links(udev_device* tty) {
    std::vector<std::string> links;
    std::istringstream in(Property(tty, "DEVLINKS"));
    for (std::string link; in >> link;) links.push_back(link);
    // A device that udev's database does not describe (no udev running):
    // its links, as the kernel's list of them.
    if (links.empty())
        for (udev_list_entry* e = udev_device_get_devlinks_list_entry(tty); e; e = udev_list_entry_get_next(e))
            links.push_back(udev_list_entry_get_name(e));
    return links;
}

}  // namespace

void TUdevFree::operator()(udev* u) const { udev_unref(u); }

TUdev NewUdev() { return TUdev(udev_new()); }

bool IsSerialPort(udev_device* tty) {
    const char* name = udev_device_get_sysname(tty);
    if (!name) return false;
    // 8250-style ports are all listed whether or not a UART answers there.
    if (StartsWith(name, "ttyS")) return UartType(tty) != 0;
    // USB serial adapters and modems exist only while plugged in.
    if (StartsWith(name, "ttyUSB") || StartsWith(name, "ttyACM")) return true;
    // Consoles, ptys and virtual terminals have no device behind them.
    udev_device* parent = udev_device_get_parent(tty);
    if (!parent) return false;
    if (UartType(tty) != 0) return true;  // other UART drivers (ttyAMA, ttymxc, ...)
    const std::string bus = Str(udev_device_get_subsystem(parent));
    return bus == "usb" || bus == "usb-serial";  // vendor USB serial drivers
}

TPortInfo PortInfoOf(udev_device* tty) {
    TPortInfo p;
    p.Name = Str(udev_device_get_sysname(tty));
    p.Path = Str(udev_device_get_devnode(tty));
    if (p.Path.empty()) p.Path = ComDevicePath(p.Name);
    p.Links = Links(tty);
    for (const std::string& link : p.Links)
        if (link.rfind("/dev/serial/by-id/", 0) == 0) {
            p.ById = link;
            break;
        }
    // The USB device itself holds the strings the adapter reports; udev's
    // properties repeat them (and are all a device that has gone still has).
    udev_device* usb = udev_device_get_parent_with_subsystem_devtype(tty, "usb", "usb_device");
    p.Usb = usb != nullptr || Property(tty, "ID_BUS") == "usb";
    p.Vendor = FirstOf({Attribute(usb, "manufacturer"), DecodeUdevString(Property(tty, "ID_VENDOR_ENC")),
                        Property(tty, "ID_VENDOR_FROM_DATABASE")});
    p.Model = FirstOf({Attribute(usb, "product"), DecodeUdevString(Property(tty, "ID_MODEL_ENC")),
                       Property(tty, "ID_MODEL_FROM_DATABASE")});
    p.Serial = p.Usb ? FirstOf({Attribute(usb, "serial"), Property(tty, "ID_SERIAL_SHORT")}) : std::string();
    p.Driver = FirstOf({DriverAbove(tty), Property(tty, "ID_USB_DRIVER")});
    return p;
}

void ListPorts(std::vector<TPortInfo>& out) {
    const TUdev u = NewUdev();
    if (!u) throw EComPort(CE_REGISTRY, errno ? errno : ENOMEM);
    udev_enumerate* e = udev_enumerate_new(u.get());
    if (!e) throw EComPort(CE_REGISTRY, errno ? errno : ENOMEM);
    int r = udev_enumerate_add_match_subsystem(e, "tty");
    if (r >= 0) r = udev_enumerate_scan_devices(e);
    if (r < 0) {
        udev_enumerate_unref(e);
        throw EComPort(CE_REGISTRY, -r);
    }
    std::vector<TPortInfo> ports;
    for (udev_list_entry* l = udev_enumerate_get_list_entry(e); l; l = udev_list_entry_get_next(l)) {
        udev_device* d = udev_device_new_from_syspath(u.get(), udev_list_entry_get_name(l));
        if (!d) continue;  // gone since the scan
        if (IsSerialPort(d)) ports.push_back(PortInfoOf(d));
        udev_device_unref(d);
    }
    udev_enumerate_unref(e);
    SortPorts(ports);
    out.swap(ports);
}

// A link (by-id, by-path, one of the user's own) and the device it points
// to are the same port; each can only be followed while the device is there.
bool SamePort(const std::string& a, const std::string& b) {
    const std::string pa = ComDevicePath(a);
    const std::string pb = ComDevicePath(b);
    if (pa.empty() || pb.empty()) return false;
    if (pa == pb) return true;
    struct stat sa {}, sb {};
    if (stat(pa.c_str(), &sa) != 0 || stat(pb.c_str(), &sb) != 0) return false;
    if (S_ISCHR(sa.st_mode) && S_ISCHR(sb.st_mode)) return sa.st_rdev == sb.st_rdev;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace skarvel
