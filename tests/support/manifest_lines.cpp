#include "support/manifest_lines.h"

#include "platform/bcrypt_handles.h"
#include "portable/net/hex_digest.h"

std::string Sha256Hex(const std::string& bytes) {
    UniqueAlgorithm algorithm;
    if (::BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0) < 0)
        return std::string();
    UCHAR digest[32] = {};
    {
        UniqueHash hash;
        if (::BCryptCreateHash(algorithm.get(), hash.put(), nullptr, 0, nullptr, 0, 0) < 0 ||
            ::BCryptHashData(hash.get(), reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data())),
                             static_cast<ULONG>(bytes.size()), 0) < 0 ||
            ::BCryptFinishHash(hash.get(), digest, sizeof digest, 0) < 0) {
            return std::string();
        }
    }
    return HexDigest(digest, sizeof digest);
}

std::string ManifestLine(const std::string& relPath, const std::string& content,
                         const std::string& suffix) {
    return relPath + "\t" + std::to_string(content.size()) + "\t" + Sha256Hex(content) + suffix +
           "\n";
}
