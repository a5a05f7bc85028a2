// P-256 private keys as PEM files hold them, read and written without a crypto library (the
// Windows build signs with CNG): SEC1 "EC PRIVATE KEY" (what `openssl ecparam -genkey -noout`
// writes) and unencrypted PKCS#8 "PRIVATE KEY".
#pragma once

#include <array>
#include <string>

namespace talvora {

struct P256PrivateKey {
    std::array<unsigned char, 32> d{};
    std::array<unsigned char, 64> xy{};  // the public point X || Y
};

// False, with `error`, for another curve or algorithm, an encrypted key, or a key file without
// its public point (CNG cannot import a private key without it).
bool DecodeP256PrivateKeyPem(const std::string& pem, P256PrivateKey& key, std::string& error);

// SEC1 with the curve and the public point, as `openssl ecparam -genkey -noout` writes it.
std::string EncodeP256PrivateKeyPem(const P256PrivateKey& key);

}  // namespace talvora
