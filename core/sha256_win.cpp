// SHA-256 through the Windows CNG provider (bcrypt).
#include <windows.h>
#include <bcrypt.h>

#include <stdexcept>

#include "core/sha256.h"

namespace skarvel {

struct TSha256::TState {
    BCRYPT_ALG_HANDLE Alg = nullptr;
    BCRYPT_HASH_HANDLE Hash = nullptr;
};

namespace {
bool Ok(NTSTATUS s) { return s >= 0; }

}  // namespace

TSha256::TSha256() : state_(std::make_unique<TState>()) {
    if (!Ok(BCryptOpenAlgorithmProvider(&state_->Alg, BCRYPT_SHA256_ALGORITHM, nullptr, 0)))
        throw std::runtime_error("SHA-256: BCryptOpenAlgorithmProvider failed");
    if (!Ok(BCryptCreateHash(state_->Alg, &state_->Hash, nullptr, 0, nullptr, 0, 0))) {
        BCryptCloseAlgorithmProvider(state_->Alg, 0);
        throw std::runtime_error("SHA-256: BCryptCreateHash failed");
    }
}

TSha256::~TSha256() {
    if (state_->Hash) BCryptDestroyHash(state_->Hash);
    if (state_->Alg) BCryptCloseAlgorithmProvider(state_->Alg, 0);
}

void TSha256::Update(const void* data, size_t size) {
    auto* p = static_cast<PUCHAR>(const_cast<void*>(data));
    while (size > 0) {
        const ULONG piece = size > 0x40000000u ? 0x40000000u : static_cast<ULONG>(size);
        if (!Ok(BCryptHashData(state_->Hash, p, piece, 0))) throw std::runtime_error("SHA-256: BCryptHashData failed");
        p += piece;
        size -= piece;
    }
}

std::string TSha256::Hex() {
    unsigned char digest[32];
    if (!Ok(BCryptFinishHash(state_->Hash, digest, sizeof digest, 0)))
        throw std::runtime_error("SHA-256: BCryptFinishHash failed");
    // A finished hash object takes no more data: a new one starts over.
    BCryptDestroyHash(state_->Hash);
    state_->Hash = nullptr;
    if (!Ok(BCryptCreateHash(state_->Alg, &state_->Hash, nullptr, 0, nullptr, 0, 0)))
        throw std::runtime_error("SHA-256: BCryptCreateHash failed");
    return detail::DigestHex(digest, sizeof digest);
}

}  // namespace skarvel
