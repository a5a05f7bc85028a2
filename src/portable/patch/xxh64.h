// XXH64, the 64-bit xxHash: a fast non-cryptographic hash. Block indexes use it to tell blocks
// apart cheaply; whole files are still judged by their SHA-256.
#pragma once

#include <cstddef>
#include <cstdint>

std::uint64_t Xxh64(const unsigned char* data, std::size_t size, std::uint64_t seed);
