// Which blocks of a published file an older local copy already holds, and the plan that builds the
// new file from those and from byte ranges fetched from the server. Portable: the caller supplies
// reading and the strong digest.
#pragma once

#include "portable/patch/block_index.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

// The next bytes of the local file, in order: the count read, 0 at its end, -1 on failure.
using SequentialRead = std::function<long long(unsigned char* buffer, std::size_t size)>;
// The strong digest of `size` bytes: the first 16 bytes of their SHA-256.
using BlockDigestFn =
    std::function<bool(const unsigned char* data, std::size_t size, BlockDigest& digest)>;

// The strong digest of an index of `kind`: XXH64, or half a SHA-256 for the first indexes.
BlockDigestFn BlockDigestFor(BlockDigestKind kind);

constexpr std::uint64_t kNoLocalSource = ~static_cast<std::uint64_t>(0);

struct BlockMatch {
    // Per block of the index: where the local file holds the same bytes, or kNoLocalSource.
    std::vector<std::uint64_t> localOffset;
    // Strong digests that did not confirm a weak match. Past a budget (their bytes may add up to
    // the file's size and 64 MiB) the scan stops early, so an index crafted to collide with the
    // local file costs bandwidth, not hours of hashing.
    std::uint64_t failedConfirmations = 0;
    // The scan's work past the rolling checksum: strong digests taken, lookups made and index
    // records given a source. Capped at a small multiple of the index's block count (the scan
    // then stops early), so it stays linear in the file whatever the index says.
    std::uint64_t work = 0;
    // Also set when nothing matched within the first eighth of the file (at least 64 MiB): a
    // rewritten file is then fetched whole without scanning the rest.
    bool stoppedEarly = false;
};

// Scans the local file with the rolling checksum at every byte offset and confirms each weak hit
// with the strong digest. False when reading or hashing fails, or `cancel` (may be empty) asks to
// stop; `match` is then unusable.
bool MatchLocalBlocks(const BlockIndex& index, const SequentialRead& read,
                      const BlockDigestFn& digest, const std::function<bool()>& cancel,
                      BlockMatch& match);

struct PlanPiece {
    std::uint64_t offset = 0;  // in the new file
    std::uint64_t length = 0;
    bool remote = false;            // fetched with a byte range, else copied from the local file
    std::uint64_t localOffset = 0;  // where a copied piece starts in the local file
};

struct PatchPlan {
    std::vector<PlanPiece> pieces;  // in file order, covering the new file exactly
    std::uint64_t remoteBytes = 0;
    std::size_t remoteRanges = 0;
};

// Runs of blocks become pieces. Local runs of at most `mergeGap` bytes between two remote ones are
// fetched with them, and the gap grows until at most `maxRanges` requests remain, so a scattered
// match never turns into thousands of requests.
PatchPlan PlanPatch(const BlockIndex& index, const BlockMatch& match, std::uint64_t mergeGap,
                    std::size_t maxRanges);
