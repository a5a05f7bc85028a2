// SHA-256 from OpenSSL's libcrypto, for the publisher's build outside Windows.
#include <openssl/evp.h>

#include <new>

#include "portable/net/sha256.h"
#include "portable/unique_handle.h"

namespace {

struct MdCtxTraits {
    using Type = EVP_MD_CTX*;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type ctx) noexcept { EVP_MD_CTX_free(ctx); }
};

}  // namespace

struct Sha256::State {
    UniqueHandle<MdCtxTraits> ctx;
    bool ok = false;
};

Sha256::Sha256() noexcept {
    static_assert(sizeof(State) <= sizeof storage_, "the state must fit the object");
    State& s = *new (storage_) State();
    s.ctx.reset(EVP_MD_CTX_new());
    s.ok = s.ctx && EVP_DigestInit_ex(s.ctx.get(), EVP_sha256(), nullptr) == 1;
}

Sha256::~Sha256() {
    state().~State();
}

bool Sha256::Ok() const noexcept {
    return state().ok;
}

bool Sha256::Update(const void* data, std::size_t size) noexcept {
    State& s = state();
    if (!s.ok)
        return false;
    s.ok = EVP_DigestUpdate(s.ctx.get(), data, size) == 1;
    return s.ok;
}

bool Sha256::Finish(Sha256Digest& digest) noexcept {
    State& s = state();
    if (!s.ok)
        return false;
    unsigned int length = 0;
    s.ok = false;
    return EVP_DigestFinal_ex(s.ctx.get(), digest.data(), &length) == 1 && length == digest.size();
}

bool Sha256Of(const void* data, std::size_t size, Sha256Digest& digest) noexcept {
    Sha256 hash;
    return hash.Update(data, size) && hash.Finish(digest);
}
