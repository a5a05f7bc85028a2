#include "portable/patch/xxh64.h"

namespace {

constexpr std::uint64_t kPrime1 = 0x9E3779B185EBCA87ull;
constexpr std::uint64_t kPrime2 = 0xC2B2AE3D27D4EB4Full;
constexpr std::uint64_t kPrime3 = 0x165667B19E3779F9ull;
constexpr std::uint64_t kPrime4 = 0x85EBCA77C2B2AE63ull;
constexpr std::uint64_t kPrime5 = 0x27D4EB2F165667C5ull;

std::uint64_t RotateLeft(std::uint64_t value, int bits) {
    return value << bits | value >> (64 - bits);
}

// Little-endian reads whatever the machine's order; compilers turn these into single loads.
std::uint32_t Read32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint64_t Read64(const unsigned char* p) {
    return static_cast<std::uint64_t>(Read32(p)) | static_cast<std::uint64_t>(Read32(p + 4)) << 32;
}

std::uint64_t Round(std::uint64_t accumulator, std::uint64_t input) {
    accumulator += input * kPrime2;
    return RotateLeft(accumulator, 31) * kPrime1;
}

std::uint64_t MergeRound(std::uint64_t hash, std::uint64_t lane) {
    hash ^= Round(0, lane);
    return hash * kPrime1 + kPrime4;
}

}  // namespace

std::uint64_t Xxh64(const unsigned char* data, std::size_t size, std::uint64_t seed) {
    const unsigned char* p = data;
    const unsigned char* const end = data + size;
    std::uint64_t hash;
    if (size >= 32) {
        std::uint64_t v1 = seed + kPrime1 + kPrime2;
        std::uint64_t v2 = seed + kPrime2;
        std::uint64_t v3 = seed;
        std::uint64_t v4 = seed - kPrime1;
        for (; end - p >= 32; p += 32) {
            v1 = Round(v1, Read64(p));
            v2 = Round(v2, Read64(p + 8));
            v3 = Round(v3, Read64(p + 16));
            v4 = Round(v4, Read64(p + 24));
        }
        hash = RotateLeft(v1, 1) + RotateLeft(v2, 7) + RotateLeft(v3, 12) + RotateLeft(v4, 18);
        hash = MergeRound(hash, v1);
        hash = MergeRound(hash, v2);
        hash = MergeRound(hash, v3);
        hash = MergeRound(hash, v4);
    } else {
        hash = seed + kPrime5;
    }
    hash += static_cast<std::uint64_t>(size);
    for (; end - p >= 8; p += 8)
        hash = RotateLeft(hash ^ Round(0, Read64(p)), 27) * kPrime1 + kPrime4;
    if (end - p >= 4) {
        hash = RotateLeft(hash ^ Read32(p) * kPrime1, 23) * kPrime2 + kPrime3;
        p += 4;
    }
    for (; p < end; ++p)
        hash = RotateLeft(hash ^ *p * kPrime5, 11) * kPrime1;
    hash ^= hash >> 33;
    hash *= kPrime2;
    hash ^= hash >> 29;
    hash *= kPrime3;
    hash ^= hash >> 32;
    return hash;
}
