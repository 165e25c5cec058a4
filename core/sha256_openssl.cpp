// SHA-256 through libcrypto's EVP interface.
#include <openssl/evp.h>

#include <new>
#include <stdexcept>

#include "core/sha256.h"

namespace skarvel {

struct TSha256::TState {
    EVP_MD_CTX* Ctx = nullptr;
};

namespace {
void Begin(EVP_MD_CTX* ctx) {
    if (EVP_DigestInit_ex(ctx, EVP_sha256(), nullptr) != 1) throw std::runtime_error("SHA-256: EVP_DigestInit_ex failed");
}
}  // namespace

TSha256::TSha256() : state_(std::make_unique<TState>()) {
    state_->Ctx = EVP_MD_CTX_new();
    if (state_->Ctx == nullptr) throw std::bad_alloc();
    Begin(state_->Ctx);
}

TSha256::~TSha256() { EVP_MD_CTX_free(state_->Ctx); }

void TSha256::Update(const void* data, size_t size) {
    if (size == 0) return;
    if (EVP_DigestUpdate(state_->Ctx, data, size) != 1) throw std::runtime_error("SHA-256: EVP_DigestUpdate failed");
}

std::string TSha256::Hex() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(state_->Ctx, digest, &length) != 1) throw std::runtime_error("SHA-256: EVP_DigestFinal_ex failed");
    Begin(state_->Ctx);
    return detail::DigestHex(digest, length);
}

}  // namespace skarvel
