#include "net/public_key_pem.h"

#include <cstddef>

namespace {

// SEQUENCE { SEQUENCE { id-ecPublicKey, prime256v1 }, BIT STRING { 0x04 X Y } }, up to X.
constexpr unsigned char kSpkiPrefix[] = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48,
                                         0xce, 0x3d, 0x02, 0x01, 0x06, 0x08, 0x2a, 0x86, 0x48,
                                         0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00, 0x04};
constexpr std::size_t kSpkiSize = sizeof kSpkiPrefix + 64;
// A key file is a few hundred bytes; anything far larger is not one.
constexpr std::size_t kMaxPemSize = 1024;

const char kBegin[] = "-----BEGIN PUBLIC KEY-----";
const char kEnd[] = "-----END PUBLIC KEY-----";

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

// Canonical base64 only: whole groups, padding only at the end, unused bits zero.
bool DecodeBase64(const std::string& text, std::string& out) {
    if (text.empty() || text.size() % 4 != 0)
        return false;
    out.clear();
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        const int pad =
            last ? (text[i + 3] == '=') + (text[i + 2] == '=' && text[i + 3] == '=') : 0;
        int v[4] = {0, 0, 0, 0};
        for (int k = 0; k < 4 - pad; ++k) {
            v[k] = Base64Value(text[i + static_cast<std::size_t>(k)]);
            if (v[k] < 0)
                return false;
        }
        const unsigned bits = (static_cast<unsigned>(v[0]) << 18) |
                              (static_cast<unsigned>(v[1]) << 12) |
                              (static_cast<unsigned>(v[2]) << 6) | static_cast<unsigned>(v[3]);
        out.push_back(static_cast<char>((bits >> 16) & 0xFF));
        if (pad < 2)
            out.push_back(static_cast<char>((bits >> 8) & 0xFF));
        if (pad < 1)
            out.push_back(static_cast<char>(bits & 0xFF));
        if ((pad == 1 && (bits & 0xFF) != 0) || (pad == 2 && (bits & 0xFFFF) != 0))
            return false;
    }
    return true;
}

}  // namespace

bool DecodeP256PublicKeyPem(const std::string& pem, EcdsaP256PublicKey& xy) {
    if (pem.size() > kMaxPemSize)
        return false;
    // Lines without their ends; a CR is allowed only right before the LF.
    std::string body;
    bool begun = false, ended = false;
    std::size_t start = 0;
    while (start < pem.size()) {
        std::size_t end = pem.find('\n', start);
        if (end == std::string::npos)
            end = pem.size();
        std::string line = pem.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() && (!begun || ended))
            continue;  // blank lines around the block
        if (ended)
            return false;
        if (!begun) {
            if (line != kBegin)
                return false;
            begun = true;
        } else if (line == kEnd) {
            ended = true;
        } else {
            body += line;
        }
    }
    std::string der;
    if (!ended || !DecodeBase64(body, der) || der.size() != kSpkiSize ||
        der.compare(0, sizeof kSpkiPrefix, reinterpret_cast<const char*>(kSpkiPrefix),
                    sizeof kSpkiPrefix) != 0) {
        return false;
    }
    for (std::size_t i = 0; i < 64; ++i)
        xy[i] = static_cast<unsigned char>(der[sizeof kSpkiPrefix + i]);
    return true;
}
