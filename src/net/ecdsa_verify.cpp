#include "net/ecdsa_verify.h"

#include "platform/bcrypt_handles.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstring>

#include "portable/net/sha256.h"

namespace {

bool Succeeded(NTSTATUS status) {
    return status >= 0;
}

}  // namespace

bool VerifyEcdsaP256Sha256(const std::string& data, const EcdsaP256Signature& rs,
                           const EcdsaP256PublicKey& key) {
    Sha256Digest digest;
    if (!Sha256Of(data.data(), data.size(), digest))
        return false;

    UniqueAlgorithm algorithm;
    if (!Succeeded(::BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_ECDSA_P256_ALGORITHM,
                                                 nullptr, 0))) {
        return false;
    }
    UCHAR blob[sizeof(BCRYPT_ECCKEY_BLOB) + 64] = {};
    BCRYPT_ECCKEY_BLOB header = {};
    header.dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
    header.cbKey = 32;
    std::memcpy(blob, &header, sizeof header);
    std::memcpy(blob + sizeof header, key.data(), key.size());
    UniqueKey publicKey;
    if (!Succeeded(::BCryptImportKeyPair(algorithm.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB,
                                         publicKey.put(), blob, sizeof blob, 0))) {
        return false;
    }
    UCHAR signature[64];
    std::memcpy(signature, rs.data(), rs.size());
    // Only 0 means verified; STATUS_INVALID_SIGNATURE and every other status do not.
    return ::BCryptVerifySignature(publicKey.get(), nullptr, digest.data(),
                                   static_cast<ULONG>(digest.size()), signature, sizeof signature,
                                   0) == 0;
}
