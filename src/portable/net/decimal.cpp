#include "portable/net/decimal.h"

#include <limits>

namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

DecimalRead ReadDecimal(const std::string& text) {
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    DecimalRead read;
    std::size_t i = 0;
    while (i < text.size() && IsSpace(text[i]))
        ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        read.negative = text[i] == '-';
        ++i;
    }
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const auto digit = static_cast<std::uint64_t>(text[i] - '0');
        if (read.overflow || read.magnitude > (kMax - digit) / 10) {
            read.overflow = true;
            read.magnitude = kMax;
        } else {
            read.magnitude = read.magnitude * 10 + digit;
        }
    }
    return read;
}
