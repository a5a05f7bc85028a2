#include "portable/net/sha256.h"

#include <windows.h>
#include <bcrypt.h>

#include <new>

#include "net/bcrypt_handles.h"

// mingw's headers lack the algorithm pseudo-handles, so each hash opens the provider.
struct Sha256::State {
    UniqueAlgorithm algorithm;
    UniqueHash hash;
    bool ok = false;
};

namespace {

bool Succeeded(NTSTATUS status) {
    return status >= 0;
}

}  // namespace

Sha256::Sha256() noexcept {
    static_assert(sizeof(State) <= sizeof storage_, "the state must fit the object");
    State& s = *new (storage_) State();
    s.ok =
        Succeeded(::BCryptOpenAlgorithmProvider(s.algorithm.put(), BCRYPT_SHA256_ALGORITHM, nullptr,
                                                0)) &&
        Succeeded(::BCryptCreateHash(s.algorithm.get(), s.hash.put(), nullptr, 0, nullptr, 0, 0));
}

Sha256::~Sha256() {
    state().~State();
}

bool Sha256::Ok() const noexcept {
    return state().ok;
}

bool Sha256::Update(const void* data, std::size_t size) noexcept {
    State& s = state();
    auto* bytes = static_cast<unsigned char*>(const_cast<void*>(data));
    while (s.ok && size > 0) {
        const ULONG chunk = size > 0x40000000u ? 0x40000000u : static_cast<ULONG>(size);
        s.ok = Succeeded(::BCryptHashData(s.hash.get(), bytes, chunk, 0));
        bytes += chunk;
        size -= chunk;
    }
    return s.ok;
}

bool Sha256::Finish(Sha256Digest& digest) noexcept {
    State& s = state();
    if (!s.ok)
        return false;
    s.ok = false;
    return Succeeded(
        ::BCryptFinishHash(s.hash.get(), digest.data(), static_cast<ULONG>(digest.size()), 0));
}

bool Sha256Of(const void* data, std::size_t size, Sha256Digest& digest) noexcept {
    Sha256 hash;
    return hash.Update(data, size) && hash.Finish(digest);
}
