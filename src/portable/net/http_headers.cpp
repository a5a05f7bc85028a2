#include "portable/net/http_headers.h"

#include "portable/net/decimal.h"

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Digits at `at`, advanced past them, through the same decimal reader as every number of the
// server's texts; false without a digit or past 64 bits.
bool ReadDigits(const std::string& text, std::size_t& at, std::uint64_t& value) {
    std::size_t end = at;
    while (end < text.size() && IsDigit(text[end]))
        ++end;
    if (end == at)
        return false;
    const DecimalRead read = ReadDecimal(text.substr(at, end - at));
    at = end;
    value = read.magnitude;
    return !read.overflow;
}

std::size_t SkipBlanks(const std::string& text, std::size_t at) {
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t'))
        ++at;
    return at;
}

}  // namespace

bool ParseContentLength(const std::string& text, std::uint64_t& length) {
    std::size_t at = SkipBlanks(text, 0);
    std::uint64_t value = 0;
    if (!ReadDigits(text, at, value) || SkipBlanks(text, at) != text.size())
        return false;
    length = value;
    return true;
}

bool ParseContentRange(const std::string& text, ContentRange& range) {
    static const std::string kUnit = "bytes ";
    if (text.compare(0, kUnit.size(), kUnit) != 0)
        return false;
    std::size_t at = kUnit.size();
    ContentRange read;
    if (!ReadDigits(text, at, read.first) || at >= text.size() || text[at++] != '-' ||
        !ReadDigits(text, at, read.last) || at >= text.size() || text[at++] != '/') {
        return false;
    }
    if (at < text.size() && text[at] == '*') {
        ++at;
    } else {
        if (!ReadDigits(text, at, read.total))
            return false;
        read.totalKnown = true;
    }
    if (at != text.size() || read.first > read.last ||
        (read.totalKnown && read.last >= read.total)) {
        return false;
    }
    range = read;
    return true;
}

bool ParseRetryAfterSeconds(const std::string& text, std::uint64_t& seconds) {
    return ParseContentLength(text, seconds);  // the same form: digits between blanks
}

std::string RangeRequestHeader(std::uint64_t first, std::uint64_t length) {
    std::string header = "Range: bytes=" + std::to_string(first) + "-";
    if (length > 0)
        header += std::to_string(first + length - 1);
    return header;
}
