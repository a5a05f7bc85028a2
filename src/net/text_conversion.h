#pragma once

#include <string>

// UTF-8 bytes to UTF-16. Embedded zero bytes and a leading byte-order mark are kept; malformed
// sequences become U+FFFD rather than failing the whole conversion.
std::wstring Utf8ToWide(const std::string& utf8);
