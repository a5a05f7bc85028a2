#include "portable/net/public_key_pem.h"

#include "portable/net/pem_block.h"

#include <cstddef>

namespace {

// SEQUENCE { SEQUENCE { id-ecPublicKey, prime256v1 }, BIT STRING { 0x04 X Y } }, up to X.
constexpr unsigned char kSpkiPrefix[] = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48,
                                         0xce, 0x3d, 0x02, 0x01, 0x06, 0x08, 0x2a, 0x86, 0x48,
                                         0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00, 0x04};
constexpr std::size_t kSpkiSize = sizeof kSpkiPrefix + 64;
// A key file is a few hundred bytes; anything far larger is not one.
constexpr std::size_t kMaxPemSize = 1024;
const char kLabel[] = "PUBLIC KEY";

}  // namespace

bool DecodeP256PublicKeyPem(const std::string& pem, EcdsaP256PublicKey& xy) {
    std::string der;
    if (!DecodePemBlock(pem, kLabel, kMaxPemSize, der) || der.size() != kSpkiSize ||
        der.compare(0, sizeof kSpkiPrefix, reinterpret_cast<const char*>(kSpkiPrefix),
                    sizeof kSpkiPrefix) != 0) {
        return false;
    }
    for (std::size_t i = 0; i < 64; ++i)
        xy[i] = static_cast<unsigned char>(der[sizeof kSpkiPrefix + i]);
    return true;
}

std::string EncodeP256PublicKeyPem(const EcdsaP256PublicKey& xy) {
    return EncodePemBlock(
        kLabel, std::string(reinterpret_cast<const char*>(kSpkiPrefix), sizeof kSpkiPrefix) +
                    std::string(reinterpret_cast<const char*>(xy.data()), 64));
}
