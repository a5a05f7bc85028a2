// Digests as text: lower-case hex, the form the manifest and the version file carry.
#pragma once

#include <cstddef>
#include <string>

std::string HexDigest(const unsigned char* bytes, std::size_t count);
