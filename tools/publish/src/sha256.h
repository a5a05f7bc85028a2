// Incremental SHA-256 from the platform: CNG (bcrypt) on Windows, OpenSSL's
// libcrypto elsewhere.
#pragma once

#include <array>
#include <cstddef>
#include <memory>

namespace talvora {

using Sha256Digest = std::array<unsigned char, 32>;

struct Sha256State;

class Sha256 {
  public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    // False when the platform could not set up the hash.
    bool Ok() const;
    bool Update(const void* data, std::size_t size);
    // Ends the hash; the object cannot be used afterwards.
    bool Finish(Sha256Digest& digest);

  private:
    std::unique_ptr<Sha256State> state_;
};

}  // namespace talvora
