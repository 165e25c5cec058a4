// What both platforms' hashes share.
#include "core/sha256.h"

namespace skarvel {

std::string TSha256::Of(const void* data, size_t size) {
    TSha256 h;
    h.Update(data, size);
    return h.Hex();
}

namespace detail {
std::string DigestHex(const unsigned char* digest, size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        hex += digits[digest[i] >> 4];
        hex += digits[digest[i] & 0x0F];
    }
    return hex;
}
}  // namespace detail

}  // namespace skarvel
