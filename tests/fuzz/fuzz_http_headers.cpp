// Header values as a server may send them: any bytes.
#include <cerrno>
#include <cstdlib>

#include "fuzz_support.h"
#include "portable/net/http_headers.h"

namespace {

bool AllDigits(const std::string& s) {
    return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text = Bytes(data, size);

    std::uint64_t length = 7;
    if (ParseContentLength(text, length)) {
        const std::size_t begin = text.find_first_not_of(" \t");
        const std::size_t end = text.find_last_not_of(" \t");
        Require(begin != std::string::npos && AllDigits(text.substr(begin, end - begin + 1)),
                "a length is digits between blanks");
        errno = 0;
        const unsigned long long reference = std::strtoull(text.c_str() + begin, nullptr, 10);
        Require(errno == 0 && reference == length, "a length reads as strtoull reads it");
        Require(ParseContentLength(std::to_string(length), length), "a written length reads back");
    } else {
        Require(length == 7, "a refused length leaves the value alone");
    }

    ContentRange range;
    if (ParseContentRange(text, range)) {
        Require(range.first <= range.last, "a range is not backwards");
        Require(!range.totalKnown || range.last < range.total, "a range lies inside its total");
        const std::string written = "bytes " + std::to_string(range.first) + "-" +
                                    std::to_string(range.last) + "/" +
                                    (range.totalKnown ? std::to_string(range.total) : "*");
        ContentRange back;
        Require(ParseContentRange(written, back) && back.first == range.first &&
                    back.last == range.last && back.totalKnown == range.totalKnown &&
                    back.total == range.total,
                "a range's canonical form reads back the same");
        Require(written.size() <= text.size(), "only leading zeros are dropped");
    }

    // A request header for a range always names where it starts.
    const std::string header = RangeRequestHeader(length, size);
    Require(header.compare(0, 13, "Range: bytes=") == 0, "request header form");
    return 0;
}
