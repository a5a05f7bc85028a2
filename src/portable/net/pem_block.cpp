#include "portable/net/pem_block.h"

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Value(char c) {
    for (int i = 0; i < 64; ++i) {
        if (kAlphabet[i] == c)
            return i;
    }
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

bool DecodePemBlock(const std::string& pem, const std::string& label, std::size_t maxSize,
                    std::string& der) {
    if (pem.size() > maxSize)
        return false;
    const std::string begin = "-----BEGIN " + label + "-----";
    const std::string end = "-----END " + label + "-----";
    std::string body;
    bool begun = false, ended = false;
    std::size_t start = 0;
    while (start < pem.size()) {
        std::size_t stop = pem.find('\n', start);
        if (stop == std::string::npos)
            stop = pem.size();
        std::string line = pem.substr(start, stop - start);
        start = stop + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();  // a CR is allowed only right before the LF
        if (line.empty() && (!begun || ended))
            continue;
        if (ended)
            return false;
        if (!begun) {
            if (line != begin)
                return false;
            begun = true;
        } else if (line == end) {
            ended = true;
        } else {
            body += line;
        }
    }
    return ended && DecodeBase64(body, der);
}

std::string EncodePemBlock(const std::string& label, const std::string& der) {
    std::string base64;
    for (std::size_t i = 0; i < der.size(); i += 3) {
        unsigned bits = static_cast<unsigned>(static_cast<unsigned char>(der[i])) << 16;
        if (i + 1 < der.size())
            bits |= static_cast<unsigned>(static_cast<unsigned char>(der[i + 1])) << 8;
        if (i + 2 < der.size())
            bits |= static_cast<unsigned>(static_cast<unsigned char>(der[i + 2]));
        base64 += kAlphabet[(bits >> 18) & 63];
        base64 += kAlphabet[(bits >> 12) & 63];
        base64 += i + 1 < der.size() ? kAlphabet[(bits >> 6) & 63] : '=';
        base64 += i + 2 < der.size() ? kAlphabet[bits & 63] : '=';
    }
    std::string pem = "-----BEGIN " + label + "-----\n";
    for (std::size_t i = 0; i < base64.size(); i += 64)
        pem += base64.substr(i, 64) + "\n";
    return pem + "-----END " + label + "-----\n";
}
