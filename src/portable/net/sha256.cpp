#include "portable/net/sha256.h"

Sha256::Sha256() noexcept : state_(Make(storage_)), ok_(false) {
    ok_ = Begin(*state_);
}

Sha256::~Sha256() {
    Unmake(state_);
}

bool Sha256::Update(const void* data, std::size_t size) noexcept {
    ok_ = ok_ && Feed(*state_, static_cast<const unsigned char*>(data), size);
    return ok_;
}

bool Sha256::Finish(Sha256Digest& digest) noexcept {
    const bool finished = ok_ && End(*state_, digest);
    ok_ = false;  // a hash is finished once
    return finished;
}

bool Sha256Of(const void* data, std::size_t size, Sha256Digest& digest) noexcept {
    Sha256 hash;
    return hash.Update(data, size) && hash.Finish(digest);
}
