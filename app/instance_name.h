// Where the one window of a user's desktop session listens for later starts
// of the program, and who may talk to it. Plain C++; the bodies are per
// platform (instance_name_linux.cpp, instance_name_win.cpp). Safe on any
// thread.
#pragma once

#include <cstdint>
#include <string>

namespace skarvel {

struct TInstanceAddress {
    // The local server's name: a socket path on Linux, a pipe name on
    // Windows. Empty when there is no safe place for one (Problem says why).
    std::string ServerName;
    // The lock file that lets one start at a time decide who listens.
    std::string LockPath;
    std::string Problem;
};

// The address of this user's window on the display named by session (what
// the window shows on: ":0", "wayland-0", "offscreen"; "host:0.1" counts as
// "host:0", the whole X server). Two users never share an address, nor do
// two displays of one user.
//
// Linux: a socket in $XDG_RUNTIME_DIR when that is a folder of the user's
// own that no one else may enter, else in $TMPDIR/skarvel-UID (or
// /tmp/skarvel-UID), made with mode 0700 and refused when it is a link,
// belongs to another user or is open to others. The user id is part of the
// name as well, so that a program started with another user's runtime
// folder (sudo keeps the variable) meets no window of that user's.
// Windows: a pipe named after the user's SID and the logon session.
TInstanceAddress InstanceAddress(const std::string& session);

// Whether the process at the other end of an accepted local connection runs
// as this process's user (Linux: the socket's peer credentials). On Windows
// the pipe itself admits the user only, and this is always true.
bool PeerIsSameUser(intptr_t socketDescriptor);

// The part of a server name that stands for session: letters, digits, '.',
// '-' and '_' as they are, every other byte as %XX; the screen of an X
// display left out.
std::string SessionTag(const std::string& session);

}  // namespace skarvel
