// ECDSA P-256 with SHA-256, verified by the platform (CNG).
#pragma once

#include <string>

#include "portable/net/ecdsa_signature.h"
#include "portable/net/public_key_pem.h"

// True only when `rs` is a valid signature by `key` over exactly these bytes.
bool VerifyEcdsaP256Sha256(const std::string& data, const EcdsaP256Signature& rs,
                           const EcdsaP256PublicKey& key);
