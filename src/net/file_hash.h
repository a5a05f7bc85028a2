#pragma once

#include <windows.h>

#include <array>
#include <atomic>
#include <string>

// SHA-256 of the file's content as 64 lower-case hex digits, or empty when no digest could be
// computed (missing, unreadable, or held open for writing by someone else). A read that fails
// part-way ends the input there, so the digest of the shorter content is returned.
std::string Sha256FileHex(const std::wstring& path);

using Sha256HexDigits = std::array<char, 64>;

// The same digits for what is left to read of an already open file, read through the caller's
// buffer, for a thread that hashes many files in a row. Allocates nothing and throws nothing.
// False when no digest could be made, or as soon as `stop` is seen true between two reads.
bool Sha256OpenFileHex(HANDLE file, unsigned char* buffer, DWORD bufferSize,
                       const std::atomic<bool>& stop, Sha256HexDigits& hex) noexcept;
