// Zero-terminated byte-string routines for the 8.3 names of the medium, and
// the table that turns code page 1251 letters into capitals.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

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

// Copies src into dest up to and including its terminating zero; returns dest.
char* StrCopyZ(char* dest, const char* src);

// As StrCopyZ, each byte mapped through CapsTable. dest may be src.
char* StrCapsCopy(char* dest, const char* src);

// True when the first n bytes of a and b are equal (zero bytes included);
// false when either is absent.
bool StrSameN(const char* a, const char* b, size_t n);

}  // namespace skarvel
