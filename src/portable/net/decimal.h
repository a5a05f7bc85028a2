// Decimal numbers in the server's text files, read the way the C library's strtoull and strtol
// read them, without their locale or errno.
#pragma once

#include <cstdint>
#include <string>

struct DecimalRead {
    bool negative = false;
    std::uint64_t magnitude = 0;  // 2^64-1 when `overflow`
    bool overflow = false;
};

// Leading white space, an optional sign, then digits up to the first other byte.
DecimalRead ReadDecimal(const std::string& text);
