// Zero-terminated byte-string routines for the 8.3 names of the medium; the
// capitals are those of core/cp1251.h's CapsTable.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/cp1251.h"

namespace skarvel {

// Copies src into dest up to and including its terminating zero; returns dest.
char* StrCopyZ(char* dest, const char* src);

// As StrCopyZ, each byte mapped through CapsTable. dest may be src.
char* StrCapsCopy(char* dest, const char* src);

// True when the first n bytes of a and b are equal (zero bytes included);
// false when either is absent.
bool StrSameN(const char* a, const char* b, size_t n);

}  // namespace skarvel
