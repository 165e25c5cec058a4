// What the port list and the port watch share on Linux: libudev's view of
// one tty device. Linux only.
#pragma once

#include <memory>

#include "link/port_enum.h"

struct udev;
struct udev_device;

namespace skarvel {

// A libudev context; null when libudev cannot make one.
struct TUdevFree {
    void operator()(udev* u) const;
};
using TUdev = std::unique_ptr<udev, TUdevFree>;
TUdev NewUdev();

// True when the tty device present in sysfs is a serial line: an 8250-style
// port with a UART behind it, a USB serial adapter or modem, or another UART
// driver's port; not a console, pty or virtual terminal.
bool IsSerialPort(udev_device* tty);

// What udev knows of the tty device. Of a device that has just gone only
// what its event carries is known (name, device, links, udev's USB facts).
TPortInfo PortInfoOf(udev_device* tty);

}  // namespace skarvel
