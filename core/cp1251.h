// Code page 1251 is the medium's and the user interface's character set; the
// PC side of Linux speaks UTF-8. These convert between the two.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace skarvel {

// Code page 1251 byte -> its capital: a..z -> A..Z, 0xB8 (yo) -> 0xA8,
// 0xE0..0xFF -> 0xC0..0xDF; every other byte maps to itself.
inline constexpr std::array<uint8_t, 256> CapsTable = [] {
    std::array<uint8_t, 256> t{};
    for (int i = 0; i < 256; ++i) t[i] = static_cast<uint8_t>(i);
    for (int i = 0x61; i <= 0x7A; ++i) t[i] = static_cast<uint8_t>(i - 0x20);
    for (int i = 0xE0; i <= 0xFF; ++i) t[i] = static_cast<uint8_t>(i - 0x20);
    t[0xB8] = 0xA8;
    return t;
}();

// Every code page 1251 byte has a UTF-8 form (0x98, unassigned, becomes U+FFFD).
std::string Cp1251ToUtf8(std::string_view cp1251);

// False when a character has no code page 1251 form or the input is not valid
// UTF-8; out then holds what was converted up to that point.
bool Utf8ToCp1251(std::string_view utf8, std::string& out);

// Convenience for fixed texts: unconvertible characters become '?'.
std::string ToCp1251(std::string_view utf8);

// Names on the medium come from any system that wrote it: a DOS program
// writes its code page 866, whose letters are other code page 1251 bytes or
// none at all. A name is shown with every byte that is no character to show
// written as \xHH (two capital hex digits): the byte code page 1251 leaves
// undefined (0x98), the control bytes 0x00..0x1F and 0x7F, and the backslash
// itself, which would otherwise read as the start of such a form. Every
// other byte is its code page 1251 character. Each name has exactly one
// shown form, and the shown form gives the bytes back.
bool IsEscapedNameByte(unsigned char b);
std::string MediumNameToUtf8(std::string_view cp1251);
// The bytes of a shown name: \xHH (hex digits of either case) is the byte
// HH, every other character its code page 1251 byte. False for a backslash
// not followed by x and two hex digits, and for characters code page 1251
// lacks.
bool Utf8ToMediumName(std::string_view utf8, std::string& cp1251);
// True when the name holds a byte that is shown escaped.
bool HasEscapedNameBytes(std::string_view cp1251);

}  // namespace skarvel
