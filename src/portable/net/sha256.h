// SHA-256 from the platform: CNG (bcrypt) on Windows (src/net/sha256_bcrypt.cpp), OpenSSL's
// libcrypto in the publisher's and the fuzz build elsewhere (tools/publish/src/sha256_openssl.cpp);
// each build links one backend. Streaming, or one-shot over bytes in memory. The platform's state
// lives inside the object, so making one allocates nothing and throws nothing.
#pragma once

#include <array>
#include <cstddef>

using Sha256Digest = std::array<unsigned char, 32>;

class Sha256 {
  public:
    Sha256() noexcept;
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    // False once the platform failed to set up or to take data; Finish then gives no digest.
    bool Ok() const noexcept { return ok_; }
    bool Update(const void* data, std::size_t size) noexcept;
    // Ends the hash; the object cannot be used afterwards.
    bool Finish(Sha256Digest& digest) noexcept;

  private:
    // The backend's half: its state is made in `storage_` and taken apart there.
    struct State;
    static State* Make(void* storage) noexcept;
    static void Unmake(State* state) noexcept;
    static bool Begin(State& state) noexcept;
    static bool Feed(State& state, const unsigned char* data, std::size_t size) noexcept;
    static bool End(State& state, Sha256Digest& digest) noexcept;

    alignas(alignof(std::max_align_t)) unsigned char storage_[4 * sizeof(void*)];
    State* state_;
    bool ok_;
};

bool Sha256Of(const void* data, std::size_t size, Sha256Digest& digest) noexcept;
