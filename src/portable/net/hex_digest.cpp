#include "portable/net/hex_digest.h"

void HexDigestTo(const unsigned char* bytes, std::size_t count, char* out) {
    static const char kDigits[] = "0123456789abcdef";
    for (std::size_t i = 0; i < count; ++i) {
        out[2 * i] = kDigits[bytes[i] >> 4];
        out[2 * i + 1] = kDigits[bytes[i] & 0x0F];
    }
}

std::string HexDigest(const unsigned char* bytes, std::size_t count) {
    std::string hex(count * 2, '\0');
    HexDigestTo(bytes, count, &hex[0]);
    return hex;
}
