// Digests as text: lower-case hex, the form the manifest and the version file carry.
#pragma once

#include <cstddef>
#include <string>

std::string HexDigest(const unsigned char* bytes, std::size_t count);
// The same digits into `out` (2 * count characters, no terminator), for callers that must not
// allocate.
void HexDigestTo(const unsigned char* bytes, std::size_t count, char* out);

// Reads exactly 2 * count lower-case hex digits into `bytes`; false (and `bytes` unusable) for
// anything else.
bool ParseHexDigest(const std::string& hex, unsigned char* bytes, std::size_t count);
