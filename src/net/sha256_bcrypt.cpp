#include "net/sha256.h"

#include <windows.h>
#include <bcrypt.h>

#include "app/unique_handle.h"

// mingw's headers lack the algorithm pseudo-handles, so each hash opens the provider.
struct Sha256State {
    UniqueAlgorithm algorithm;
    UniqueHash hash;
    bool ok = false;
};

namespace {

bool Succeeded(NTSTATUS status) {
    return status >= 0;
}

}  // namespace

Sha256::Sha256() : state_(new Sha256State) {
    state_->ok = Succeeded(::BCryptOpenAlgorithmProvider(state_->algorithm.put(),
                                                         BCRYPT_SHA256_ALGORITHM, nullptr, 0)) &&
                 Succeeded(::BCryptCreateHash(state_->algorithm.get(), state_->hash.put(), nullptr,
                                              0, nullptr, 0, 0));
}

Sha256::~Sha256() = default;

bool Sha256::Ok() const {
    return state_->ok;
}

bool Sha256::Update(const void* data, std::size_t size) {
    auto* bytes = static_cast<unsigned char*>(const_cast<void*>(data));
    while (state_->ok && size > 0) {
        const ULONG chunk = size > 0x40000000u ? 0x40000000u : static_cast<ULONG>(size);
        state_->ok = Succeeded(::BCryptHashData(state_->hash.get(), bytes, chunk, 0));
        bytes += chunk;
        size -= chunk;
    }
    return state_->ok;
}

bool Sha256::Finish(Sha256Digest& digest) {
    if (!state_->ok)
        return false;
    state_->ok = false;
    return Succeeded(::BCryptFinishHash(state_->hash.get(), digest.data(),
                                        static_cast<ULONG>(digest.size()), 0));
}

bool Sha256Of(const void* data, std::size_t size, Sha256Digest& digest) {
    Sha256 hash;
    return hash.Update(data, size) && hash.Finish(digest);
}
