// Deterministic pseudo-random content, so large files need not be stored anywhere. Standard C++
// only: the native tests of talvora-publish use it too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

inline std::string PatternBytes(std::uint64_t size, std::uint32_t seed) {
    std::string bytes(static_cast<std::size_t>(size), '\0');
    std::uint32_t state = seed * 2654435761u + 1u;
    for (char& c : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        c = static_cast<char>(state & 0xFF);
    }
    return bytes;
}
