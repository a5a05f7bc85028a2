#pragma once

#include <windows.h>

#include <array>
#include <atomic>
#include <string>

// SHA-256 of what is left to read of an open file (a staging file read back through its own
// handle) as 64 lower-case hex digits, or empty when no digest could be computed (a handle that
// cannot be read, or a read that failed part-way: the digest of the shorter content would only
// look like one). Reads through the process's one read buffer.
std::string Sha256RestOfFileHex(HANDLE file);

using Sha256HexDigits = std::array<char, 64>;

// The same digits for what is left to read of an already open file, read through the caller's
// buffer, for a thread that hashes many files in a row. Allocates nothing and throws nothing.
// False when no digest could be made, or as soon as `stop` is seen true between two reads.
bool Sha256OpenFileHex(HANDLE file, unsigned char* buffer, DWORD bufferSize,
                       const std::atomic<bool>& stop, Sha256HexDigits& hex) noexcept;
