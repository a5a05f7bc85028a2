// Patching a large file by blocks: the entries marked BLOCKS carry an index beside them on the
// server, and an older local copy usually holds most of the new file already.
#pragma once

#include <string>

#include "net/http_client.h"
#include "patch/manifest.h"

// Fills the open, empty `staging` file with the content the entry names, from the blocks
// `localPath` already holds and byte ranges of `url` (`url` + ".blocks" is the index; when the
// entry names the index's digest, no other index is taken). True when the staging file is
// complete; its digest is still the caller's to verify: `writtenSha256` is then the SHA-256 of the
// bytes written into it, in order, or empty when the caller must read the file to know it. False
// on any failure or a cancel: the caller then empties the staging file and downloads the file
// whole. `progress` counts the bytes actually fetched. Nothing is written but the staging file.
bool PatchByBlocks(const HttpSession& session, const std::wstring& url,
                   const std::wstring& localPath, HANDLE staging, const ManifestEntry& entry,
                   const CancelPredicate& cancel, const ProgressCallback& progress,
                   std::string& writtenSha256, Retry retry = Retry());

// The most bytes an index for a file of `fileSize` bytes can have: the smallest blocks, at most
// the largest count.
std::uint64_t MaxBlockIndexBytes(std::uint64_t fileSize);
