// The matcher and the plan against any pair of files: the plan must rebuild the new file exactly
// from the local copy and the fetched ranges, however the two files relate.
#include <cstring>

#include "fuzz_support.h"
#include "portable/patch/block_index.h"
#include "portable/patch/block_match.h"
#include "support/block_plan.h"

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

    const BlockIndex index = IndexOfBytes(fresh, kBlock, ExactDigest);
    BlockMatch match;
    Require(MatchBytes(index, local, ExactDigest, match), "the scan completes");
    Require(match.localOffset.size() == index.blocks.size(), "one source per block");

    const PatchPlan plan = PlanPatch(index, match, mergeGap, maxRanges);
    std::string fault;
    const std::string rebuilt = CarryOutPlan(plan, local, fresh, fault);
    Require(fault.empty(), fault.c_str());
    Require(rebuilt == fresh, "the plan rebuilds the new file exactly");
    Require(plan.remoteRanges <= maxRanges, "no more requests than allowed");
    return 0;
}
