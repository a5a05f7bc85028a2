// Replacing a file so that readers see either the old content or the whole
// new content, never a part: write a temporary file beside it, flush it to
// disk, rename it over the old one.
#pragma once

#include <filesystem>
#include <string>

namespace talvora {

// On failure the temporary file is removed, an existing `dest` is left as it
// was, and `error` says what went wrong. The destination folder must exist.
bool WriteFileAtomically(const std::filesystem::path& dest, const std::string& content,
                         std::string& error);

// The temporary file names start with this, followed by the destination's
// file name.
constexpr const char* kTempPrefix = ".tmp-";

}  // namespace talvora
