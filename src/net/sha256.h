// SHA-256 from the platform: CNG (bcrypt) on Windows, OpenSSL's libcrypto in the publisher's
// build elsewhere. Streaming, or one-shot over bytes in memory.
#pragma once

#include <array>
#include <cstddef>
#include <memory>

using Sha256Digest = std::array<unsigned char, 32>;

struct Sha256State;

class Sha256 {
  public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    // False once the platform failed to set up or to take data; Finish then gives no digest.
    bool Ok() const;
    bool Update(const void* data, std::size_t size);
    // Ends the hash; the object cannot be used afterwards.
    bool Finish(Sha256Digest& digest);

  private:
    std::unique_ptr<Sha256State> state_;
};

bool Sha256Of(const void* data, std::size_t size, Sha256Digest& digest);
