#include "flashfs/my_str.h"

#include <cstring>

namespace skarvel {

char* StrCopyZ(char* dest, const char* src) {
    if (dest == nullptr) return dest;
    if (src == nullptr) src = "";
    size_t i = 0;
    do {
        dest[i] = src[i];
    } while (src[i++] != 0);
    return dest;
}

char* StrCapsCopy(char* dest, const char* src) {
    if (dest == nullptr) return dest;
    if (src == nullptr) src = "";
    size_t i = 0;
    for (;; ++i) {
        const uint8_t c = static_cast<uint8_t>(src[i]);
        dest[i] = static_cast<char>(CapsTable[c]);
        if (c == 0) break;
    }
    return dest;
}

bool StrSameN(const char* a, const char* b, size_t n) {
    if (a == nullptr || b == nullptr) return false;
    return std::memcmp(a, b, n) == 0;
}

}  // namespace skarvel
