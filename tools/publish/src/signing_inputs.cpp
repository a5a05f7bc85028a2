#include "signing.h"

namespace talvora {

bool ReadVerifyInputs(const std::string& publicPem, const std::string& signature,
                      EcdsaP256PublicKey& xy, EcdsaP256Signature& rs, std::string& error) {
    if (!DecodeP256PublicKeyPem(publicPem, xy)) {
        error = "the public key is not a PEM P-256 public key as the launcher takes it";
        return false;
    }
    if (!DecodeEcdsaDerSignature(signature, rs)) {
        error = "the signature is not a DER ECDSA P-256 signature";
        return false;
    }
    return true;
}

}  // namespace talvora
