// Why a user may not open a serial port on Linux, and what to do about it.
//
// A tty device belongs to a group (dialout on Debian) whose members may open
// it. A user added to that group has the right only in sessions started
// after that, so the advice always ends in logging in again.
#pragma once

#include <string>

#include "link/cport.h"

namespace skarvel {

// What is known about a refused device and the user who asked for it.
struct TPortAccess {
    std::string Path;
    bool Known = false;        // the device's group and mode could be read
    std::string Group;         // the owning group's name (its number when it has none)
    bool GroupMayUse = false;  // the group may both read and write the device
    std::string User;          // the user's login name; empty when unknown
};

// One line (UTF-8) telling the user what to do after an open that failed
// with err; empty unless err refuses the right to open (EACCES, EPERM).
std::string PortAccessAdvice(int err, const TPortAccess& access);

// The failure of an open of path with err: EComPort code 1 with the system's
// error, followed by the advice above on a line of its own when there is any.
EComPort ComOpenError(const std::string& path, int err);

}  // namespace skarvel
