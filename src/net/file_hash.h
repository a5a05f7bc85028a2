#pragma once

#include <string>

// SHA-256 of the file's content as 64 lower-case hex digits, or empty when no digest could be
// computed (missing, unreadable, or held open for writing by someone else). A read that fails
// part-way ends the input there, so the digest of the shorter content is returned.
std::string Sha256FileHex(const std::wstring& path);
