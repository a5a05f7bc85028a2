// The update publisher's public key as operators keep it: the PEM SubjectPublicKeyInfo that
// `openssl ec -pubout` writes for a P-256 key.
#pragma once

#include <array>
#include <string>

using EcdsaP256PublicKey = std::array<unsigned char, 64>;  // X || Y

// Strictly one "PUBLIC KEY" block (LF or CRLF lines, nothing else around it but line ends)
// whose DER is the P-256 SubjectPublicKeyInfo with an uncompressed point: any other curve,
// algorithm, point form or a private key is refused.
bool DecodeP256PublicKeyPem(const std::string& pem, EcdsaP256PublicKey& xy);

// The same PEM form, as `openssl ec -pubout` writes it.
std::string EncodeP256PublicKeyPem(const EcdsaP256PublicKey& xy);
