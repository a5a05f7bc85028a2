// Compressed copies of client files, written beside them in the pack (FILE.zlib): a launcher that
// knows them fetches the copy and inflates it; the raw file stays for every other launcher.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "portable/patch/manifest_format.h"

namespace talvora {

// Files are compressed in memory; larger ones (blocks are the road for those) travel raw.
constexpr std::uint64_t kMaxCompressedFileBytes = 512ull * 1024 * 1024;

// True when `path` holds one whole zlib stream and nothing after it: the copy an earlier run
// wrote, which a walk of the client folder leaves out rather than publishing it as a game file.
bool IsCompressedCopyFile(const std::filesystem::path& path);

// What compressing one file came to.
enum class CopyResult { Done, NotWorthIt, Failed };

// Compresses the entry's file (its size and SHA-256 already on the entry) and, when the copy is
// at least `minSavingPercent` smaller, writes it beside the file and names it on the entry;
// otherwise removes a copy an earlier run left there. The file must still be what the entry says,
// or it is Failed with `error` set.
CopyResult WriteCompressedCopy(const std::filesystem::path& clientDir, ManifestEntry& entry,
                               unsigned minSavingPercent, std::string& error);

}  // namespace talvora
