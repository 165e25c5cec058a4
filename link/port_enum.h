// The serial ports the system has, for the port settings dialog.
#pragma once

#include <string>
#include <vector>

namespace skarvel {

// Replaces out with the names of the serial ports present, sorted
// alphabetically ignoring case. Each name is accepted as TComPort::Port.
// Raises EComPort code 23 with the system's error when the ports cannot be
// listed; out is then left as it was.
void ListComPorts(std::vector<std::string>& out);

// The same, reading the port list below ttyClassDir (the tty class
// directory of a sysfs tree, normally /sys/class/tty). Linux only.
void ListComPorts(std::vector<std::string>& out, const std::string& ttyClassDir);

// True when two port names denote the same device ("COM2", "com2", "ttyS1"
// and "/dev/ttyS1" on Linux). Empty names denote no device.
bool SamePort(const std::string& a, const std::string& b);

}  // namespace skarvel
