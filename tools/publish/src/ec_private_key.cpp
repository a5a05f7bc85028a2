#include "ec_private_key.h"

#include <cstddef>

#include "portable/net/pem_block.h"

namespace talvora {

namespace {

constexpr std::size_t kMaxPemSize = 4096;
const std::string kPrime256v1 = "\x06\x08\x2a\x86\x48\xce\x3d\x03\x01\x07";
const std::string kEcPublicKey = "\x06\x07\x2a\x86\x48\xce\x3d\x02\x01";

// One DER element at `pos`: its tag, and its content as [start, start + length).
struct Element {
    unsigned char tag = 0;
    std::size_t start = 0;
    std::size_t length = 0;
    std::size_t end() const { return start + length; }
};

bool ReadElement(const std::string& der, std::size_t pos, std::size_t limit, Element& e) {
    if (limit > der.size() || pos > limit || limit - pos < 2)
        return false;
    e.tag = static_cast<unsigned char>(der[pos]);
    std::size_t length = static_cast<unsigned char>(der[pos + 1]);
    pos += 2;
    if (length & 0x80) {
        const std::size_t bytes = length & 0x7F;
        if (bytes == 0 || bytes > 2 || limit - pos < bytes)
            return false;
        length = 0;
        for (std::size_t i = 0; i < bytes; ++i)
            length = (length << 8) | static_cast<unsigned char>(der[pos++]);
    }
    if (limit - pos < length)
        return false;
    e.start = pos;
    e.length = length;
    return true;
}

std::string Content(const std::string& der, const Element& e) {
    return der.substr(e.start, e.length);
}

// ECPrivateKey (SEC1): SEQUENCE { version 1, OCTET STRING secret, [0] curve OPTIONAL,
// [1] public point OPTIONAL }. The sequence, and its 32-byte secret.
bool ReadSecret(const std::string& der, Element& seq, Element& secret) {
    Element version;
    return ReadElement(der, 0, der.size(), seq) && seq.tag == 0x30 && seq.end() == der.size() &&
           ReadElement(der, seq.start, seq.end(), version) && version.tag == 0x02 &&
           Content(der, version) == std::string(1, '\x01') &&
           ReadElement(der, version.end(), seq.end(), secret) && secret.tag == 0x04 &&
           secret.length == 32;
}

bool ReadCurve(const std::string& der, const Element& oid, std::string& error) {
    // Compared with its tag and length, as the whole OID element.
    if (der.substr(oid.start - 2, oid.length + 2) != kPrime256v1) {
        error = "the key is not on the P-256 (prime256v1) curve";
        return false;
    }
    return true;
}

bool ReadPublicPoint(const std::string& der, const Element& bits, P256PrivateKey& key,
                     std::string& error) {
    if (bits.tag != 0x03 || bits.length != 66 || der[bits.start] != '\0' ||
        der[bits.start + 1] != '\x04') {
        error = "the key's public point is not an uncompressed P-256 point";
        return false;
    }
    for (std::size_t i = 0; i < 64; ++i)
        key.xy[i] = static_cast<unsigned char>(der[bits.start + 2 + i]);
    return true;
}

// The optional fields in [pos, end): the curve and the public point, each noted when found;
// fields of other tags are passed over.
bool ReadOptionalFields(const std::string& der, std::size_t pos, std::size_t end,
                        P256PrivateKey& key, bool& curve, bool& point, std::string& error) {
    while (pos < end) {
        Element tagged, inner;
        if (!ReadElement(der, pos, end, tagged) ||
            !ReadElement(der, tagged.start, tagged.end(), inner)) {
            error = "malformed EC private key";
            return false;
        }
        if (tagged.tag == 0xA0) {
            if (!ReadCurve(der, inner, error))
                return false;
            curve = true;
        } else if (tagged.tag == 0xA1) {
            if (!ReadPublicPoint(der, inner, key, error))
                return false;
            point = true;
        }
        pos = tagged.end();
    }
    return true;
}

// `curveKnown` says whether the caller already knows the curve is P-256.
bool ReadEcPrivateKey(const std::string& der, bool curveKnown, P256PrivateKey& key,
                      std::string& error) {
    Element seq, secret;
    if (!ReadSecret(der, seq, secret)) {
        error = "not a P-256 EC private key";
        return false;
    }
    for (std::size_t i = 0; i < 32; ++i)
        key.d[i] = static_cast<unsigned char>(der[secret.start + i]);
    bool curve = curveKnown, point = false;
    if (!ReadOptionalFields(der, secret.end(), seq.end(), key, curve, point, error))
        return false;
    if (!curve) {
        error = "the key does not name its curve";
        return false;
    }
    if (!point) {
        error =
            "the key file lacks its public point; rewrite it with `openssl ec -in KEY -out KEY`";
        return false;
    }
    return true;
}

}  // namespace

bool DecodeP256PrivateKeyPem(const std::string& pem, P256PrivateKey& key, std::string& error) {
    std::string der;
    if (DecodePemBlock(pem, "EC PRIVATE KEY", kMaxPemSize, der))
        return ReadEcPrivateKey(der, false, key, error);
    if (!DecodePemBlock(pem, "PRIVATE KEY", kMaxPemSize, der)) {
        error = "not an unencrypted PEM private key (EC PRIVATE KEY or PRIVATE KEY)";
        return false;
    }
    // PrivateKeyInfo: version 0, { id-ecPublicKey, prime256v1 }, OCTET STRING { ECPrivateKey }.
    Element seq, version, algorithm, secret;
    if (!ReadElement(der, 0, der.size(), seq) || seq.tag != 0x30 || seq.end() != der.size() ||
        !ReadElement(der, seq.start, seq.end(), version) || version.tag != 0x02 ||
        Content(der, version) != std::string(1, '\0') ||
        !ReadElement(der, version.end(), seq.end(), algorithm) || algorithm.tag != 0x30 ||
        Content(der, algorithm) != kEcPublicKey + kPrime256v1 ||
        !ReadElement(der, algorithm.end(), seq.end(), secret) || secret.tag != 0x04) {
        error = "not a P-256 EC private key";
        return false;
    }
    return ReadEcPrivateKey(Content(der, secret), true, key, error);
}

std::string EncodeP256PrivateKeyPem(const P256PrivateKey& key) {
    std::string der = std::string("\x30\x77\x02\x01\x01\x04\x20", 7);
    der.append(reinterpret_cast<const char*>(key.d.data()), 32);
    der += std::string("\xa0\x0a", 2) + kPrime256v1 + std::string("\xa1\x44\x03\x42\x00\x04", 6);
    der.append(reinterpret_cast<const char*>(key.xy.data()), 64);
    return EncodePemBlock("EC PRIVATE KEY", der);
}

}  // namespace talvora
