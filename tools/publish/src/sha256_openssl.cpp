// The OpenSSL (libcrypto) backend of the portable SHA-256 interface, for builds outside Windows.
#include <openssl/evp.h>

#include "portable/net/sha256.h"
#include "portable/unique_handle.h"

struct Sha256::State {
    UniqueHandle<ReleasedBy<EVP_MD_CTX*, EVP_MD_CTX_free>> context;
};

#include "portable/net/sha256_backend.h"

bool Sha256::Begin(State& state) noexcept {
    state.context.reset(EVP_MD_CTX_new());
    return state.context && EVP_DigestInit_ex(state.context.get(), EVP_sha256(), nullptr) == 1;
}

bool Sha256::Feed(State& state, const unsigned char* data, std::size_t size) noexcept {
    return EVP_DigestUpdate(state.context.get(), data, size) == 1;
}

bool Sha256::End(State& state, Sha256Digest& digest) noexcept {
    unsigned int length = 0;
    return EVP_DigestFinal_ex(state.context.get(), digest.data(), &length) == 1 &&
           length == digest.size();
}
