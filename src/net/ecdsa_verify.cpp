#include "net/ecdsa_verify.h"

#include "app/unique_handle.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstring>
#include <limits>

namespace {

struct AlgorithmTraits {
    using Type = BCRYPT_ALG_HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::BCryptCloseAlgorithmProvider(h, 0); }
};

struct KeyTraits {
    using Type = BCRYPT_KEY_HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::BCryptDestroyKey(h); }
};

struct HashTraits {
    using Type = BCRYPT_HASH_HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::BCryptDestroyHash(h); }
};

bool Succeeded(NTSTATUS status) {
    return status >= 0;
}

bool Sha256(const std::string& data, UCHAR (&digest)[32]) {
    if (data.size() > std::numeric_limits<ULONG>::max())
        return false;
    UniqueHandle<AlgorithmTraits> algorithm;
    if (!Succeeded(
            ::BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
        return false;
    }
    UniqueHandle<HashTraits> hash;
    return Succeeded(::BCryptCreateHash(algorithm.get(), hash.put(), nullptr, 0, nullptr, 0, 0)) &&
           Succeeded(::BCryptHashData(hash.get(),
                                      reinterpret_cast<PUCHAR>(const_cast<char*>(data.data())),
                                      static_cast<ULONG>(data.size()), 0)) &&
           Succeeded(::BCryptFinishHash(hash.get(), digest, sizeof digest, 0));
}

}  // namespace

bool VerifyEcdsaP256Sha256(const std::string& data, const EcdsaP256Signature& rs,
                           const EcdsaP256PublicKey& key) {
    UCHAR digest[32] = {};
    if (!Sha256(data, digest))
        return false;

    UniqueHandle<AlgorithmTraits> algorithm;
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
    UniqueHandle<KeyTraits> publicKey;
    if (!Succeeded(::BCryptImportKeyPair(algorithm.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB,
                                         publicKey.put(), blob, sizeof blob, 0))) {
        return false;
    }
    UCHAR signature[64];
    std::memcpy(signature, rs.data(), rs.size());
    // Only 0 means verified; STATUS_INVALID_SIGNATURE and every other status do not.
    return ::BCryptVerifySignature(publicKey.get(), nullptr, digest, sizeof digest, signature,
                                   sizeof signature, 0) == 0;
}
