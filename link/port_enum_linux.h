// Port enumeration on Linux, below a given sysfs tree (for the tests).
#pragma once

#include <string>
#include <vector>

namespace skarvel {

// ListComPorts, reading the port list below ttyClassDir (the tty class
// directory of a sysfs tree, normally /sys/class/tty).
void ListComPorts(std::vector<std::string>& out, const std::string& ttyClassDir);

}  // namespace skarvel
