// Digests as text: lower-case hex, the form the manifest and the version file carry.
#pragma once

#include <cstddef>
#include <string>

std::string HexDigest(const unsigned char* bytes, std::size_t count);

// 64 lower-case hex digits: the only form a SHA-256 published for the launcher can match.
bool IsSha256Hex(const std::string& text);
