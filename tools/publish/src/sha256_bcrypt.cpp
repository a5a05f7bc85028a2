#include <windows.h>
#include <bcrypt.h>

#include "sha256.h"

namespace talvora {

// mingw's headers lack the algorithm pseudo-handles, so the provider is
// opened for each hash.
struct Sha256State {
    BCRYPT_ALG_HANDLE alg = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    bool ok = false;
    ~Sha256State() {
        if (hash != nullptr)
            BCryptDestroyHash(hash);
        if (alg != nullptr)
            BCryptCloseAlgorithmProvider(alg, 0);
    }
};

namespace {
bool Succeeded(NTSTATUS status) {
    return status >= 0;
}
}  // namespace

Sha256::Sha256() : state_(new Sha256State) {
    state_->ok =
        Succeeded(BCryptOpenAlgorithmProvider(&state_->alg, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) &&
        Succeeded(BCryptCreateHash(state_->alg, &state_->hash, nullptr, 0, nullptr, 0, 0));
}

Sha256::~Sha256() = default;

bool Sha256::Ok() const {
    return state_->ok;
}

bool Sha256::Update(const void* data, std::size_t size) {
    auto* bytes = static_cast<unsigned char*>(const_cast<void*>(data));
    while (state_->ok && size > 0) {
        const ULONG chunk = size > 0x40000000u ? 0x40000000u : static_cast<ULONG>(size);
        state_->ok = Succeeded(BCryptHashData(state_->hash, bytes, chunk, 0));
        bytes += chunk;
        size -= chunk;
    }
    return state_->ok;
}

bool Sha256::Finish(Sha256Digest& digest) {
    if (!state_->ok)
        return false;
    state_->ok = false;
    return Succeeded(
        BCryptFinishHash(state_->hash, digest.data(), static_cast<ULONG>(digest.size()), 0));
}

}  // namespace talvora
