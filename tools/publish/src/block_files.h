// Block indexes of large client files, written beside them in the pack.
#pragma once

#include <filesystem>
#include <string>

#include "portable/patch/block_index.h"
#include "portable/patch/block_match.h"

namespace talvora {

// Suffix of an index beside its file.
constexpr const char* kBlockIndexSuffix = ".blocks";

// Reads `path` once and fills the index: block size from ChooseBlockSize, every block's sums (the
// strong digest of the index's default kind) and the whole file's SHA-256.
bool BuildBlockIndex(const std::filesystem::path& path, BlockIndex& index, std::string& error);

// True when `path` is an index written by this tool (its magic), so a walk of the client folder
// leaves it out rather than publishing it as a game file.
bool IsBlockIndexFile(const std::filesystem::path& path);

}  // namespace talvora
