#pragma once

#include <string>

// UTF-8 bytes to UTF-16. Embedded zero bytes and a leading byte-order mark are kept; malformed
// sequences become U+FFFD rather than failing the whole conversion.
std::wstring Utf8ToWide(const std::string& utf8);

// UTF-16 to UTF-8, the inverse of the above; an unpaired surrogate becomes U+FFFD.
std::string WideToUtf8(const std::wstring& wide);
