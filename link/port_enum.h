// The serial ports the system has, for the port settings dialog, the
// start-up's choice of port and `zvt ports`. Each platform lists them its
// own way: libudev on Linux (port_enum_linux.cpp), the registry on Windows
// (port_enum_win.cpp), which knows the names only.
#pragma once

#include <string>
#include <vector>

namespace skarvel {

// One serial port and what the system knows of it. Plain data.
struct TPortInfo {
    std::string Name;  // the kernel's or the registry's name: "ttyUSB0", "ttyS0", "COM3"
    std::string Path;  // its device: "/dev/ttyUSB0", "\\.\COM3"
    // Every other name the device goes by (udev's links: by-id, by-path).
    std::vector<std::string> Links;
    // The link under /dev/serial/by-id/, which names the adapter itself
    // (maker, model, serial number) and so stays the same in any USB socket
    // and after any replug; empty when there is none.
    std::string ById;
    bool Usb = false;     // a USB serial adapter (or modem)
    std::string Driver;   // the kernel driver: "ftdi_sio", "cp210x", "serial8250"
    std::string Vendor;   // what the adapter calls its maker: "FTDI"
    std::string Model;    // its product: "FT232R USB UART"
    std::string Serial;   // its serial number: "A50285BI"
};

// Replaces out with the serial ports present, sorted by name as
// SortPortNames sorts. Raises EComPort code 23 with the system's error when
// the ports cannot be listed; out is then left as it was.
void ListPorts(std::vector<TPortInfo>& out);

// Replaces out with the names of the serial ports present (ListPorts'
// names). Each name is accepted as TComPort::Port.
void ListComPorts(std::vector<std::string>& out);

// What the port is, in a few words for a list: "FT232R USB UART (A50285BI)"
// for a USB adapter (its model, or maker, and serial number), the model or
// the driver for other ports; empty when nothing is known.
std::string PortDescription(const TPortInfo& port);

// The name a port is best remembered by: the by-id link of an adapter that
// has one (found again in any socket), else the port's own name.
std::string RememberedName(const TPortInfo& port);

// True when the port name (as TComPort::Port takes it) denotes this port:
// its name, its device or any of its links. Works for a port that has just
// gone, whose device can no longer be looked at.
bool PortNamed(const TPortInfo& port, const std::string& name);

// True when two port names denote the same device ("COM2", "com2", "ttyS1"
// and "/dev/ttyS1" on Linux, and any link to that device while it exists;
// "COM2", "com2" and "\\.\COM2" on Windows). Empty names denote no device.
bool SamePort(const std::string& a, const std::string& b);

// Sorts port names as the list shows them: alphabetically ignoring case
// (COM1, COM10, COM2), names equal but for case in byte order.
void SortPortNames(std::vector<std::string>& names);
void SortPorts(std::vector<TPortInfo>& ports);

}  // namespace skarvel
