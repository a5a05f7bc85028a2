// Byte-string helpers shared by the commands: UTF-8 checks, readable names in
// messages, and the conversion between UTF-8 text and file system paths.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "portable/net/utf8.h"

namespace talvora {

// The text with control bytes and bytes that are not UTF-8 shown as escapes
// (\t, \r, \n, \xNN), so that a name in an error message stays on one line.
std::string Printable(const std::string& text);

// UTF-8 for a path or a single file name. On Windows the UTF-16 name is
// converted and `ok` turns false for a name that has no UTF-8 form (lone
// surrogates); elsewhere the bytes are the name and `ok` stays true.
std::string PathToUtf8(const std::filesystem::path& path, bool& ok);
std::string PathToUtf8(const std::filesystem::path& path);

// A path from UTF-8 text (command-line arguments arrive as UTF-8).
std::filesystem::path PathFromUtf8(const std::string& text);

// "12.3 MiB" style sizes for messages.
std::string HumanBytes(std::uint64_t bytes);

// The current time as 20261207T213000Z.
std::string UtcTimestamp();

bool HasLineBreakOrTab(const std::string& text);

// Whether the launcher can use `url` as written into one of its files: not
// empty, on one line, UTF-8, http(s) with a host. `error` says why not.
bool IsUsableUrl(const std::string& url, std::string& error);

// Sets `error` and gives false: a refusal in one line.
bool Refuse(std::string& error, std::string why);

}  // namespace talvora
