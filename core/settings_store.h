// Where the window keeps the user's settings, and what programs without Qt
// (zvt) read of them: the port the window last worked on.
//
// The window writes them with QSettings (organization and application
// "Skarvel") in the desktop's usual place:
//   Linux and other Unix systems: the INI file Skarvel/Skarvel.conf under
//     $XDG_CONFIG_HOME, or ~/.config when that is unset;
//   Windows: the registry key HKEY_CURRENT_USER\Software\Skarvel\Skarvel.
// A key "group/name" is the entry name in the INI file's section [group],
// and the value name in the registry's subkey group.
//
// Threads: any; every call reads the store anew.
#pragma once

#include <string>

namespace skarvel {

inline constexpr const char* kSettingsOrganization = "Skarvel";
inline constexpr const char* kSettingsApplication = "Skarvel";

// The port the window last worked on, as the port dialog closed with OK:
// a name TComPort::Port takes (on Linux an adapter's /dev/serial/by-id/ path).
inline constexpr const char* kPortNameKey = "port/name";

// The text stored under key, or empty when there is none (no settings yet,
// a store that cannot be read, a value that is no text).
std::string ReadSetting(const std::string& key);

// The settings file on Unix systems (empty on Windows, and when neither
// XDG_CONFIG_HOME nor a home folder is known).
std::string SettingsFilePath();

// The value of key ("group/name") in the text of an INI file as QSettings
// writes it: quoted values, backslash escapes (\\ \" \n \t \xHHHH ...) and
// the '@' that QSettings doubles at the start of a text. False when the key
// is not there.
bool IniValue(const std::string& text, const std::string& key, std::string& value);

}  // namespace skarvel
