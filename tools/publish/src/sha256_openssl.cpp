#include <openssl/evp.h>

#include "sha256.h"

namespace talvora {

struct Sha256State {
    EVP_MD_CTX* ctx = nullptr;
    bool ok = false;
    ~Sha256State() {
        if (ctx != nullptr)
            EVP_MD_CTX_free(ctx);
    }
};

Sha256::Sha256() : state_(new Sha256State) {
    state_->ctx = EVP_MD_CTX_new();
    state_->ok =
        state_->ctx != nullptr && EVP_DigestInit_ex(state_->ctx, EVP_sha256(), nullptr) == 1;
}

Sha256::~Sha256() = default;

bool Sha256::Ok() const {
    return state_->ok;
}

bool Sha256::Update(const void* data, std::size_t size) {
    if (!state_->ok)
        return false;
    state_->ok = EVP_DigestUpdate(state_->ctx, data, size) == 1;
    return state_->ok;
}

bool Sha256::Finish(Sha256Digest& digest) {
    if (!state_->ok)
        return false;
    unsigned int length = 0;
    state_->ok = false;
    return EVP_DigestFinal_ex(state_->ctx, digest.data(), &length) == 1 && length == digest.size();
}

}  // namespace talvora
