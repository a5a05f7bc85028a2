// ECDSA P-256 / SHA-256 for update files, with OpenSSL's libcrypto: new keys, detached DER
// signatures as `openssl dgst -sha256 -sign` writes them, and their verification under the same
// rules the launcher applies.
#pragma once

#include <string>

#include "portable/net/ecdsa_signature.h"
#include "portable/net/public_key_pem.h"

namespace talvora {

// A new P-256 key: the private key as PEM "EC PRIVATE KEY" (what `openssl ecparam -genkey
// -noout` writes) and the public key as PEM SubjectPublicKeyInfo (`openssl ec -pubout`).
bool GenerateSigningKey(std::string& privatePem, std::string& publicPem, std::string& error);

// Reads a private key PEM (SEC1 or PKCS#8, unencrypted), which must be a P-256 key, and gives
// its public key PEM.
bool PublicKeyOf(const std::string& privatePem, std::string& publicPem, std::string& error);

// The DER signature over exactly `data`.
bool SignData(const std::string& data, const std::string& privatePem, std::string& signature,
              std::string& error);

// True when `signature` is one the launcher accepts (strict DER, P-256 key PEM) and verifies
// over `data` with `publicPem`; otherwise `error` says why.
bool VerifyData(const std::string& data, const std::string& signature, const std::string& publicPem,
                std::string& error);

// The launcher's own reading of a public key and a signature, applied first by every backend so
// that nothing verifies here that the launcher would refuse.
bool ReadVerifyInputs(const std::string& publicPem, const std::string& signature,
                      EcdsaP256PublicKey& xy, EcdsaP256Signature& rs, std::string& error);

}  // namespace talvora
