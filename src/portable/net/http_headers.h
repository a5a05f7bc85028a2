// The values of the response headers the launcher reads, from their text. WinHTTP hands header
// values over as UTF-16; the caller narrows them to bytes first (a header is ASCII).
#pragma once

#include <cstdint>
#include <string>

// Content-Length: digits only, optionally between spaces or tabs, at most 2^64-1. False for
// anything else: the length is then taken as not given.
bool ParseContentLength(const std::string& text, std::uint64_t& length);

struct ContentRange {
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    bool totalKnown = false;  // false for "/*"
    std::uint64_t total = 0;
};

// Content-Range of a 206 answer: "bytes FIRST-LAST/TOTAL" or "bytes FIRST-LAST/*", FIRST <= LAST
// (and LAST < TOTAL when the total is given), every number within 64 bits. False otherwise.
bool ParseContentRange(const std::string& text, ContentRange& range);

// Retry-After as a number of seconds (its HTTP-date form is not taken). False for anything else.
bool ParseRetryAfterSeconds(const std::string& text, std::uint64_t& seconds);

// The header of a request for `length` bytes from `first` (at least one byte), or for everything
// from `first` to the end when `length` is 0.
std::string RangeRequestHeader(std::uint64_t first, std::uint64_t length);
