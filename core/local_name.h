// Whether a name read from the medium may name a file in a PC folder. The
// medium's names come from any system that wrote it; a name that would lead
// out of the chosen folder, or that the PC's file system takes for something
// else than one plain file, is never written.
#pragma once

#include <string>

namespace skarvel {

// utf8: the medium's name in UTF-8. False for an empty name, "." and "..",
// control characters, path separators, and what the platform refuses (on
// Windows: the characters : * ? " < > |, a trailing dot or blank, and the
// device names CON, PRN, AUX, NUL, COM1..COM9 and LPT1..LPT9 with or
// without an extension).
bool IsLocalFileName(const std::string& utf8);

// A file name from the medium (code page 1251) as the name of its file on
// the PC (UTF-8), or "" when it cannot be one (the rule above). Bytes the
// shown name escapes as \xHH (core/cp1251.h) are written %HH: no PC name
// can hold them as they stand, and the escape's backslash separates paths
// on Windows.
std::string SafeLocalName(const std::string& cp1251Name);

namespace detail {
// The platform's own refusals, beyond the common ones.
bool PlatformRefusesName(const std::string& utf8);
}  // namespace detail

}  // namespace skarvel
