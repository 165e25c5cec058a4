// Code page 1251 is the medium's and the user interface's character set; the
// PC side of Linux speaks UTF-8. These convert between the two.
#pragma once

#include <string>
#include <string_view>

namespace skarvel {

// Every code page 1251 byte has a UTF-8 form (0x98, unassigned, becomes U+FFFD).
std::string Cp1251ToUtf8(std::string_view cp1251);

// False when a character has no code page 1251 form or the input is not valid
// UTF-8; out then holds what was converted up to that point.
bool Utf8ToCp1251(std::string_view utf8, std::string& out);

// Convenience for fixed texts: unconvertible characters become '?'.
std::string ToCp1251(std::string_view utf8);

}  // namespace skarvel
