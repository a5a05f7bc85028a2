// UTF-8 read and written one code point at a time, for the rules that look past ASCII. Nothing is
// refused here: a malformed byte reads as U+FFFD, as the launcher's own conversion shows it.
#pragma once

#include <cstddef>
#include <string>

// The code point at `pos`, which moves past it (one byte for a malformed sequence).
char32_t NextCodePoint(const std::string& text, std::size_t& pos);

void AppendUtf8(std::string& out, char32_t codePoint);

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(const std::string& text);
