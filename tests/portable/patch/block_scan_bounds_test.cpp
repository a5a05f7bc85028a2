// What an index can make the block scan do: it chooses the block size, the weak sums and the
// strong digests, so it can make every window of a local file a weak hit. The work past the
// rolling checksum must stay linear in the file, and blocks of equal content are still all found.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>

#include "portable/patch/block_match.h"
#include "support/block_plan.h"

namespace {

constexpr std::uint32_t kSmall = kMinBlockSize;

// An index of `count` 4 KiB blocks that all share the weak sum of a zero window; `zeroBlocks` of
// them hold zeros (and say so), the others claim digests no window has.
BlockIndex ZeroWeakIndex(std::size_t count, std::size_t zeroBlocks) {
    BlockIndex index;
    index.blockSize = kSmall;
    index.fileSize = static_cast<std::uint64_t>(count) * kSmall;
    const std::string zeros(kSmall, '\0');
    BlockDigest zeroDigest;
    Xxh64BlockDigest(reinterpret_cast<const unsigned char*>(zeros.data()), kSmall, zeroDigest);
    std::mt19937 rng(7);
    for (std::size_t i = 0; i < count; ++i) {
        BlockSum sum;
        sum.weak = 0;
        sum.strong = zeroDigest;
        if (i >= zeroBlocks) {
            for (auto& byte : sum.strong)
                byte = static_cast<unsigned char>(rng());
        }
        index.blocks.push_back(sum);
    }
    return index;
}

// A local file of random bytes with a run of zeros at `at`.
std::string LocalWithZeros(std::size_t size, std::size_t at, std::size_t zeros) {
    std::mt19937 rng(9);
    std::string local(size, '\0');
    for (char& c : local)
        c = static_cast<char>(rng());
    std::memset(&local[at], 0, zeros);
    return local;
}

BlockMatch Scan(const BlockIndex& index, const std::string& local, std::uint64_t& digests) {
    digests = 0;
    const BlockDigestFn digest = [&digests](const unsigned char* data, std::size_t size,
                                            BlockDigest& out) {
        ++digests;
        return Xxh64BlockDigest(data, size, out);
    };
    BlockMatch match;
    EXPECT_TRUE(MatchBytes(index, local, digest, match));
    return match;
}

}  // namespace

TEST(BlockScan, WorkStaysLinearWhateverTheIndexSays) {
    const std::size_t count = 16384;  // 64 MiB at 4 KiB
    const std::uint64_t cap = 16 * count + 4096;
    // 256 KiB of zeros: 61,000 windows that are weak hits.
    const std::string local = LocalWithZeros(4 << 20, 100000, 256 << 10);

    // Nothing confirms: every hit costs a digest and a lookup, never a walk over the blocks that
    // share its weak sum.
    std::uint64_t digests = 0;
    BlockMatch hostile = Scan(ZeroWeakIndex(count, 0), local, digests);
    EXPECT_LE(hostile.work, cap);
    EXPECT_LE(digests, cap);
    EXPECT_GT(digests, 1000u) << "the zeros were not looked at";
    for (std::uint64_t source : hostile.localOffset)
        ASSERT_EQ(source, kNoLocalSource);

    // A small index against the same zeros: the hits alone would cost ten times its cap, so the
    // scan stops there and the rest is fetched.
    BlockMatch small = Scan(ZeroWeakIndex(256, 0), local, digests);
    EXPECT_TRUE(small.stoppedEarly);
    EXPECT_LE(small.work, 16 * 256 + 4096 + 2);

    // Half the blocks are zeros and say so: all of them are found at the first zero window, once.
    BlockMatch half = Scan(ZeroWeakIndex(count, count / 2), local, digests);
    EXPECT_LE(half.work, cap);
    EXPECT_FALSE(half.stoppedEarly);
    for (std::size_t i = 0; i < count; ++i)
        ASSERT_EQ(half.localOffset[i], i < count / 2 ? 100000u : kNoLocalSource) << i;
}
