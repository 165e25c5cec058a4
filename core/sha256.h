// SHA-256 of the bytes that move between the PC and the medium, as the
// transfer journal records them. The hash itself is the system library's:
// OpenSSL's libcrypto on Linux (sha256_openssl.cpp), the Windows CNG
// provider on Windows (sha256_win.cpp).
//
// One object hashes one stream of bytes on one thread at a time.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace skarvel {

class TSha256 {
public:
    TSha256();
    ~TSha256();
    TSha256(const TSha256&) = delete;
    TSha256& operator=(const TSha256&) = delete;

    void Update(const void* data, size_t size);
    // The digest of everything given since construction or the last Hex(),
    // as 64 small hex digits; the object starts over afterwards.
    std::string Hex();

    // The digest of one buffer.
    static std::string Of(const void* data, size_t size);

private:
    struct TState;
    std::unique_ptr<TState> state_;
};

namespace detail {
// 32 digest bytes as 64 small hex digits.
std::string DigestHex(const unsigned char* digest, size_t size);
}  // namespace detail

}  // namespace skarvel
