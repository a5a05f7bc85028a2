// The Windows build signs with CNG (bcrypt), so that it needs no crypto library of its own.
#include "signing.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstring>
#include <vector>

#include "ec_private_key.h"
#include "platform/bcrypt_handles.h"
#include "net/ecdsa_verify.h"
#include "portable/net/ecdsa_signature.h"
#include "portable/net/public_key_pem.h"
#include "portable/net/sha256.h"

namespace talvora {

namespace {

bool Ok(NTSTATUS status) {
    return status >= 0;
}

// A CNG private key from X || Y and d.
bool ImportPrivateKey(BCRYPT_ALG_HANDLE algorithm, const P256PrivateKey& parts, UniqueKey& key) {
    BCRYPT_ECCKEY_BLOB header = {};
    header.dwMagic = BCRYPT_ECDSA_PRIVATE_P256_MAGIC;
    header.cbKey = 32;
    std::vector<UCHAR> blob(sizeof header + 96);
    std::memcpy(blob.data(), &header, sizeof header);
    std::memcpy(blob.data() + sizeof header, parts.xy.data(), 64);
    std::memcpy(blob.data() + sizeof header + 64, parts.d.data(), 32);
    const bool ok = Ok(BCryptImportKeyPair(algorithm, nullptr, BCRYPT_ECCPRIVATE_BLOB, key.put(),
                                           blob.data(), static_cast<ULONG>(blob.size()), 0));
    SecureZeroMemory(blob.data(), blob.size());
    return ok;
}

}  // namespace

bool GenerateSigningKey(std::string& privatePem, std::string& publicPem, std::string& error) {
    UniqueAlgorithm algorithm;
    UniqueKey key;
    ULONG size = 0;
    std::vector<UCHAR> blob(sizeof(BCRYPT_ECCKEY_BLOB) + 96);
    if (!Ok(BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr,
                                        0)) ||
        !Ok(BCryptGenerateKeyPair(algorithm.get(), key.put(), 256, 0)) ||
        !Ok(BCryptFinalizeKeyPair(key.get(), 0)) ||
        !Ok(BCryptExportKey(key.get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, blob.data(),
                            static_cast<ULONG>(blob.size()), &size, 0)) ||
        size != blob.size()) {
        error = "cannot generate a P-256 key";
        return false;
    }
    P256PrivateKey parts;
    std::memcpy(parts.xy.data(), blob.data() + sizeof(BCRYPT_ECCKEY_BLOB), 64);
    std::memcpy(parts.d.data(), blob.data() + sizeof(BCRYPT_ECCKEY_BLOB) + 64, 32);
    SecureZeroMemory(blob.data(), blob.size());
    privatePem = EncodeP256PrivateKeyPem(parts);
    publicPem = EncodeP256PublicKeyPem(parts.xy);
    SecureZeroMemory(parts.d.data(), parts.d.size());
    return true;
}

bool PublicKeyOf(const std::string& privatePem, std::string& publicPem, std::string& error) {
    P256PrivateKey key;
    if (!DecodeP256PrivateKeyPem(privatePem, key, error))
        return false;
    publicPem = EncodeP256PublicKeyPem(key.xy);
    return true;
}

bool SignData(const std::string& data, const std::string& privatePem, std::string& signature,
              std::string& error) {
    P256PrivateKey parts;
    if (!DecodeP256PrivateKeyPem(privatePem, parts, error))
        return false;
    Sha256Digest digest;
    UniqueAlgorithm algorithm;
    UniqueKey key;
    EcdsaP256Signature rs;
    ULONG size = 0;
    const bool ok =
        Sha256Of(data.data(), data.size(), digest) &&
        Ok(BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0)) &&
        ImportPrivateKey(algorithm.get(), parts, key) &&
        Ok(BCryptSignHash(key.get(), nullptr, digest.data(), static_cast<ULONG>(digest.size()),
                          rs.data(), static_cast<ULONG>(rs.size()), &size, 0)) &&
        size == rs.size();
    SecureZeroMemory(parts.d.data(), parts.d.size());
    if (!ok) {
        error = "cannot sign with this key";
        return false;
    }
    signature = EncodeEcdsaDerSignature(rs);
    return true;
}

bool VerifyData(const std::string& data, const std::string& signature, const std::string& publicPem,
                std::string& error) {
    EcdsaP256PublicKey xy;
    EcdsaP256Signature rs;
    if (!ReadVerifyInputs(publicPem, signature, xy, rs, error))
        return false;
    // The launcher's own check, so that both agree on every signature.
    if (!VerifyEcdsaP256Sha256(data, rs, xy)) {
        error = "the signature does not match this file and key";
        return false;
    }
    return true;
}

}  // namespace talvora
