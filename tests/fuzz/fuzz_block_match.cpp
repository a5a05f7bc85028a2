// The matcher and the plan against any pair of files: the plan must rebuild the new file exactly
// from the local copy and the fetched ranges, however the two files relate.
#include <cstring>

#include "fuzz_support.h"
#include "portable/patch/block_index.h"
#include "portable/patch/block_match.h"

namespace {

// Small blocks reach every path with small inputs; the matcher takes any power of two.
constexpr std::uint32_t kBlock = 8;

// Injective for blocks of up to 8 bytes: the bytes themselves and their count.
bool ExactDigest(const unsigned char* bytes, std::size_t size, BlockDigest& digest) {
    digest.fill(0);
    std::memcpy(digest.data(), bytes, size);
    digest[15] = static_cast<unsigned char>(size);
    return size <= kBlock;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3)
        return 0;
    const std::size_t split = (data[0] | (data[1] << 8)) % (size - 2);
    const std::uint64_t mergeGap = (data[2] & 0x0F) * kBlock;
    const std::size_t maxRanges = 1 + (data[2] >> 4);
    const std::string fresh = Bytes(data + 3, split);
    const std::string local = Bytes(data + 3 + split, size - 3 - split);

    BlockIndex index;
    index.blockSize = kBlock;
    index.fileSize = fresh.size();
    for (std::size_t at = 0; at < fresh.size(); at += kBlock) {
        const std::size_t n = std::min<std::size_t>(kBlock, fresh.size() - at);
        const auto* bytes = reinterpret_cast<const unsigned char*>(fresh.data() + at);
        BlockSum sum;
        sum.weak = ComputeRollingSum(bytes, n).Value();
        ExactDigest(bytes, n, sum.strong);
        index.blocks.push_back(sum);
    }

    std::size_t readAt = 0;
    const SequentialRead read = [&](unsigned char* buffer, std::size_t want) -> long long {
        const std::size_t n = std::min(want, local.size() - readAt);
        std::memcpy(buffer, local.data() + readAt, n);
        readAt += n;
        return static_cast<long long>(n);
    };
    BlockMatch match;
    Require(MatchLocalBlocks(index, read, ExactDigest, {}, match), "the scan completes");
    Require(match.localOffset.size() == index.blocks.size(), "one source per block");

    const PatchPlan plan = PlanPatch(index, match, mergeGap, maxRanges);
    std::string rebuilt;
    std::uint64_t remoteBytes = 0;
    std::size_t remoteRanges = 0;
    for (const PlanPiece& piece : plan.pieces) {
        Require(piece.offset == rebuilt.size() && piece.length > 0, "pieces follow each other");
        Require(piece.offset + piece.length <= fresh.size(), "pieces stay inside the new file");
        if (piece.remote) {
            rebuilt += fresh.substr(piece.offset, piece.length);
            remoteBytes += piece.length;
            ++remoteRanges;
        } else {
            Require(piece.localOffset + piece.length <= local.size(),
                    "copies stay inside the copy");
            rebuilt += local.substr(piece.localOffset, piece.length);
        }
    }
    Require(rebuilt == fresh, "the plan rebuilds the new file exactly");
    Require(plan.remoteBytes == remoteBytes && plan.remoteRanges == remoteRanges,
            "the plan counts what it fetches");
    Require(remoteRanges <= maxRanges, "no more requests than allowed");
    return 0;
}
