// What the PC says about the user who runs the program: the folder for the
// program's own state, the user's name and the local time. One
// implementation per platform: user_env_posix.cpp, user_env_win.cpp.
// Any thread.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace skarvel {

// The program's state folder (UTF-8, no trailing separator), which may not
// exist yet: $XDG_STATE_HOME/skarvel, else ~/.local/state/skarvel on Linux;
// %LOCALAPPDATA%\Skarvel on Windows. Empty when the system names no home.
std::string StateFolder();

// The folder separator of the platform.
char PathSeparator();

// The name of the user the program runs as; the user's number when the
// system knows no name.
std::string CurrentUserName();

// t in local time, ISO 8601 with the zone's offset: 2024-05-17T14:03:09+03:00.
std::string LocalTimestamp(std::time_t t);

// path made absolute against the current folder (nothing else is done to
// it: ".." stays, a link is not followed); path itself when that fails.
std::string AbsolutePath(const std::string& path);

// An environment variable in UTF-8; empty when it is not set.
std::string EnvironmentValue(const char* name);

namespace detail {
// The ISO 8601 text of broken-down local time with its offset from UTC in
// seconds (both platforms' LocalTimestamp).
std::string FormatTimestamp(const std::tm& local, long offsetSeconds);
}  // namespace detail

}  // namespace skarvel
