// The CNG backend of the portable SHA-256 interface.
#include "portable/net/sha256.h"

#include <windows.h>
#include <bcrypt.h>

#include "platform/bcrypt_handles.h"

// mingw's headers lack the algorithm pseudo-handles, so each hash opens the provider.
struct Sha256::State {
    UniqueAlgorithm algorithm;
    UniqueHash hash;
};

#include "portable/net/sha256_backend.h"

bool Sha256::Begin(State& state) noexcept {
    return ::BCryptOpenAlgorithmProvider(state.algorithm.put(), BCRYPT_SHA256_ALGORITHM, nullptr,
                                         0) >= 0 &&
           ::BCryptCreateHash(state.algorithm.get(), state.hash.put(), nullptr, 0, nullptr, 0, 0) >=
               0;
}

bool Sha256::Feed(State& state, const unsigned char* data, std::size_t size) noexcept {
    // One call takes at most a ULONG of bytes.
    while (size > 0) {
        const ULONG chunk = size > 0x40000000u ? 0x40000000u : static_cast<ULONG>(size);
        if (::BCryptHashData(state.hash.get(), const_cast<PUCHAR>(data), chunk, 0) < 0)
            return false;
        data += chunk;
        size -= chunk;
    }
    return true;
}

bool Sha256::End(State& state, Sha256Digest& digest) noexcept {
    return ::BCryptFinishHash(state.hash.get(), digest.data(), static_cast<ULONG>(digest.size()),
                              0) >= 0;
}
