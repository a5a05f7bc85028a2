// Block indexes made from bytes, a local copy scanned from memory, and a plan carried out the way
// the launcher carries it out. Standard C++ only: the formats' tests, the publisher's tests and the
// fuzz targets share it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "portable/patch/block_index.h"
#include "portable/patch/block_match.h"

inline const unsigned char* BytesOf(const std::string& text, std::size_t at = 0) {
    return reinterpret_cast<const unsigned char*>(text.data() + at);
}

// The index of `content` at `blockSize` with strong digests from `digest` (the whole file's
// SHA-256 is left zero: matching never reads it).
inline BlockIndex IndexOfBytes(const std::string& content, std::uint32_t blockSize,
                               const BlockDigestFn& digest) {
    BlockIndex index;
    index.blockSize = blockSize;
    index.fileSize = content.size();
    for (std::size_t at = 0; at < content.size(); at += blockSize) {
        const std::size_t n = std::min<std::size_t>(blockSize, content.size() - at);
        BlockSum sum;
        sum.weak = ComputeRollingSum(BytesOf(content, at), n).Value();
        digest(BytesOf(content, at), n, sum.strong);
        index.blocks.push_back(sum);
    }
    return index;
}

// Scans `local` against `index`; false when the matcher gave up with an error.
inline bool MatchBytes(const BlockIndex& index, const std::string& local,
                       const BlockDigestFn& digest, BlockMatch& match) {
    std::size_t at = 0;
    const SequentialRead read = [&](unsigned char* buffer, std::size_t size) -> long long {
        const std::size_t n = std::min(size, local.size() - at);
        std::memcpy(buffer, local.data() + at, n);
        at += n;
        return static_cast<long long>(n);
    };
    return MatchLocalBlocks(index, read, digest, {}, match);
}

// The new file as the launcher builds it from `plan`: local pieces copied from `local`, remote
// ones fetched from `server`. `fault` names the first broken rule of a plan (pieces out of order
// or outside either file, counts that disagree), and is empty for a sound one.
inline std::string CarryOutPlan(const PatchPlan& plan, const std::string& local,
                                const std::string& server, std::string& fault) {
    std::string out;
    std::uint64_t remoteBytes = 0;
    std::size_t remoteRanges = 0;
    fault.clear();
    for (const PlanPiece& piece : plan.pieces) {
        if (piece.offset != out.size() || piece.length == 0)
            fault = "pieces do not follow each other";
        else if (piece.offset + piece.length > server.size())
            fault = "a piece lies past the new file";
        else if (!piece.remote && piece.localOffset + piece.length > local.size())
            fault = "a copy lies past the local file";
        if (!fault.empty())
            return out;
        const std::string& from = piece.remote ? server : local;
        out.append(from, static_cast<std::size_t>(piece.remote ? piece.offset : piece.localOffset),
                   static_cast<std::size_t>(piece.length));
        if (piece.remote) {
            remoteBytes += piece.length;
            ++remoteRanges;
        }
    }
    if (plan.remoteBytes != remoteBytes || plan.remoteRanges != remoteRanges)
        fault = "the plan miscounts what it fetches";
    return out;
}
