// The serial ports the system has, for the port settings dialog. Each
// platform lists them its own way (port_enum_linux.cpp, port_enum_win.cpp).
#pragma once

#include <string>
#include <vector>

namespace skarvel {

// Replaces out with the names of the serial ports present, sorted
// alphabetically ignoring case. Each name is accepted as TComPort::Port.
// Raises EComPort code 23 with the system's error when the ports cannot be
// listed; out is then left as it was.
void ListComPorts(std::vector<std::string>& out);

// True when two port names denote the same device ("COM2", "com2", "ttyS1"
// and "/dev/ttyS1" on Linux; "COM2", "com2" and "\\.\COM2" on Windows).
// Empty names denote no device.
bool SamePort(const std::string& a, const std::string& b);

// Sorts port names as the list shows them: alphabetically ignoring case
// (COM1, COM10, COM2), names equal but for case in byte order.
void SortPortNames(std::vector<std::string>& names);

}  // namespace skarvel
