// ECDSA P-256 signatures as files carry them (DER, what `openssl dgst -sign` writes) and as the
// platform's verifiers take them (the two 32-byte integers r and s, big-endian, side by side).
#pragma once

#include <array>
#include <string>

using EcdsaP256Signature = std::array<unsigned char, 64>;  // r || s

// Strict DER: SEQUENCE { INTEGER r, INTEGER s }, definite short lengths, minimal positive
// integers of at most 32 significant bytes, neither zero, nothing before or after. Anything else
// (BER leniency, a longer file, another curve's sizes) is refused.
bool DecodeEcdsaDerSignature(const std::string& der, EcdsaP256Signature& rs);

// The DER form of r || s, as OpenSSL writes it (for signers whose platform gives the raw pair).
std::string EncodeEcdsaDerSignature(const EcdsaP256Signature& rs);
