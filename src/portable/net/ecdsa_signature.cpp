#include "portable/net/ecdsa_signature.h"

#include <cstddef>

namespace {

// SEQUENCE header (2) + two INTEGERs of 33 bytes with their headers (2 x 35).
constexpr std::size_t kMaxDerSize = 72;

// One INTEGER at `pos`: tag, short length, minimal positive big-endian value, non-zero, at most
// 32 significant bytes; written right-aligned into `out` (32 bytes).
bool ReadInteger(const std::string& der, std::size_t& pos, unsigned char* out) {
    if (der.size() - pos < 2 || static_cast<unsigned char>(der[pos]) != 0x02)
        return false;
    const std::size_t length = static_cast<unsigned char>(der[pos + 1]);
    pos += 2;
    if (length == 0 || length > 33 || der.size() - pos < length)
        return false;
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(der[pos + i]); };
    if (byte(0) & 0x80)
        return false;  // negative
    std::size_t skip = 0;
    if (byte(0) == 0x00) {
        // A leading zero only to keep the next byte's top bit from reading as a sign.
        if (length == 1 || !(byte(1) & 0x80))
            return false;
        skip = 1;
    }
    if (length - skip > 32)
        return false;
    for (std::size_t i = 0; i < 32 - (length - skip); ++i)
        out[i] = 0;
    bool nonZero = false;
    for (std::size_t i = skip; i < length; ++i) {
        out[32 - length + i] = byte(i);
        nonZero = nonZero || byte(i) != 0;
    }
    pos += length;
    return nonZero;
}

}  // namespace

bool DecodeEcdsaDerSignature(const std::string& der, EcdsaP256Signature& rs) {
    if (der.size() < 8 || der.size() > kMaxDerSize)
        return false;
    if (static_cast<unsigned char>(der[0]) != 0x30 ||
        static_cast<std::size_t>(static_cast<unsigned char>(der[1])) != der.size() - 2) {
        return false;  // also every long-form length, which a signature this small never needs
    }
    EcdsaP256Signature decoded = {};
    std::size_t pos = 2;
    if (!ReadInteger(der, pos, decoded.data()) || !ReadInteger(der, pos, decoded.data() + 32) ||
        pos != der.size()) {
        return false;
    }
    rs = decoded;
    return true;
}

namespace {

void AppendInteger(std::string& der, const unsigned char* value) {
    std::size_t first = 0;
    while (first < 31 && value[first] == 0)
        ++first;
    const bool pad = (value[first] & 0x80) != 0;
    der.push_back(0x02);
    der.push_back(static_cast<char>(32 - first + (pad ? 1 : 0)));
    if (pad)
        der.push_back('\0');
    der.append(reinterpret_cast<const char*>(value + first), 32 - first);
}

}  // namespace

std::string EncodeEcdsaDerSignature(const EcdsaP256Signature& rs) {
    std::string body;
    AppendInteger(body, rs.data());
    AppendInteger(body, rs.data() + 32);
    return std::string(1, '\x30') + static_cast<char>(body.size()) + body;
}
