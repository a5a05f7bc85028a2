// The Windows build signs with CNG (bcrypt), so that it needs no crypto library of its own.
#include "signing.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstring>
#include <vector>

#include "ec_private_key.h"
#include "net/ecdsa_signature.h"
#include "net/public_key_pem.h"

namespace talvora {

namespace {

struct Algorithm {
    BCRYPT_ALG_HANDLE h = nullptr;
    ~Algorithm() {
        if (h != nullptr)
            BCryptCloseAlgorithmProvider(h, 0);
    }
};
struct Key {
    BCRYPT_KEY_HANDLE h = nullptr;
    ~Key() {
        if (h != nullptr)
            BCryptDestroyKey(h);
    }
};
struct Hash {
    BCRYPT_HASH_HANDLE h = nullptr;
    ~Hash() {
        if (h != nullptr)
            BCryptDestroyHash(h);
    }
};

bool Ok(NTSTATUS status) {
    return status >= 0;
}

bool Sha256(const std::string& data, UCHAR (&digest)[32]) {
    Algorithm algorithm;
    Hash hash;
    return Ok(BCryptOpenAlgorithmProvider(&algorithm.h, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) &&
           Ok(BCryptCreateHash(algorithm.h, &hash.h, nullptr, 0, nullptr, 0, 0)) &&
           Ok(BCryptHashData(hash.h, reinterpret_cast<PUCHAR>(const_cast<char*>(data.data())),
                             static_cast<ULONG>(data.size()), 0)) &&
           Ok(BCryptFinishHash(hash.h, digest, sizeof digest, 0));
}

// A CNG key from X || Y, and d when `d` is given.
bool ImportKey(const Algorithm& algorithm, const unsigned char* xy, const unsigned char* d,
               Key& key) {
    BCRYPT_ECCKEY_BLOB header = {};
    header.dwMagic = d ? BCRYPT_ECDSA_PRIVATE_P256_MAGIC : BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
    header.cbKey = 32;
    std::vector<UCHAR> blob(sizeof header + (d ? 96 : 64));
    std::memcpy(blob.data(), &header, sizeof header);
    std::memcpy(blob.data() + sizeof header, xy, 64);
    if (d)
        std::memcpy(blob.data() + sizeof header + 64, d, 32);
    return Ok(BCryptImportKeyPair(algorithm.h, nullptr,
                                  d ? BCRYPT_ECCPRIVATE_BLOB : BCRYPT_ECCPUBLIC_BLOB, &key.h,
                                  blob.data(), static_cast<ULONG>(blob.size()), 0));
}

}  // namespace

bool GenerateSigningKey(std::string& privatePem, std::string& publicPem, std::string& error) {
    Algorithm algorithm;
    Key key;
    ULONG size = 0;
    std::vector<UCHAR> blob(sizeof(BCRYPT_ECCKEY_BLOB) + 96);
    if (!Ok(BCryptOpenAlgorithmProvider(&algorithm.h, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0)) ||
        !Ok(BCryptGenerateKeyPair(algorithm.h, &key.h, 256, 0)) ||
        !Ok(BCryptFinalizeKeyPair(key.h, 0)) ||
        !Ok(BCryptExportKey(key.h, nullptr, BCRYPT_ECCPRIVATE_BLOB, blob.data(),
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
    UCHAR digest[32];
    Algorithm algorithm;
    Key key;
    EcdsaP256Signature rs;
    ULONG size = 0;
    const bool ok =
        Sha256(data, digest) &&
        Ok(BCryptOpenAlgorithmProvider(&algorithm.h, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0)) &&
        ImportKey(algorithm, parts.xy.data(), parts.d.data(), key) &&
        Ok(BCryptSignHash(key.h, nullptr, digest, sizeof digest, rs.data(),
                          static_cast<ULONG>(rs.size()), &size, 0)) &&
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
    if (!DecodeP256PublicKeyPem(publicPem, xy)) {
        error = "the public key is not a PEM P-256 public key as the launcher takes it";
        return false;
    }
    EcdsaP256Signature rs;
    if (!DecodeEcdsaDerSignature(signature, rs)) {
        error = "the signature is not a DER ECDSA P-256 signature";
        return false;
    }
    UCHAR digest[32];
    Algorithm algorithm;
    Key key;
    if (!Sha256(data, digest) ||
        !Ok(BCryptOpenAlgorithmProvider(&algorithm.h, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0)) ||
        !ImportKey(algorithm, xy.data(), nullptr, key)) {
        error = "cannot read the public key";
        return false;
    }
    if (BCryptVerifySignature(key.h, nullptr, digest, sizeof digest, rs.data(),
                              static_cast<ULONG>(rs.size()), 0) != 0) {
        error = "the signature does not match this file and key";
        return false;
    }
    return true;
}

}  // namespace talvora
