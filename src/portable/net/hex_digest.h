// Digests as text: lower-case hex, the form the manifest and the version file carry.
#pragma once

#include <cstddef>
#include <string>

std::string HexDigest(const unsigned char* bytes, std::size_t count);
// The same digits into `out` (2 * count characters, no terminator), for callers that must not
// allocate.
void HexDigestTo(const unsigned char* bytes, std::size_t count, char* out);
