// Block indexes and the scan of a local copy.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "patch/block_index.h"
#include "patch/block_match.h"
#include "patch/xxh64.h"
#include "support/block_plan.h"
#include "support/pattern_bytes.h"

namespace {

constexpr std::size_t kBlock = kDefaultBlockSize;

}  // namespace

TEST(BlockIndex, RefusesIndexesOutOfBounds) {
    BlockIndex good;
    good.fileSize = 3 * kBlock - 1;
    good.blocks.resize(3);
    const std::string bytes = FormatBlockIndex(good);
    const auto patched = [&](std::size_t at, std::uint64_t value, int width) {
        std::string out = bytes;
        for (int i = 0; i < width; ++i)
            out[at + static_cast<std::size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
        return out;
    };
    BlockIndex index;
    std::string error;
    ASSERT_TRUE(ParseBlockIndex(bytes, index, error)) << error;
    const std::string hostile[] = {
        "",
        bytes.substr(0, bytes.size() - 1),
        bytes + "x",
        patched(0, 'X', 1),                     // magic
        patched(8, 3 * 1024, 4),                // no power of two
        patched(8, 1024, 4),                    // too small
        patched(8, 1u << 30, 4),                // too large
        patched(12, 2, 4),                      // an unknown kind of strong digest
        patched(16, 100 * kBlock, 8),           // size and count disagree
        patched(24, 1ull << 40, 8),             // absurd count
        patched(16, (1ull << 40) * kBlock, 8),  // a size whose count is absurd
    };
    for (const std::string& body : hostile)
        EXPECT_FALSE(ParseBlockIndex(body, index, error)) << body.size();

    // A block count past the bound is refused even when everything else agrees.
    std::string huge = patched(16, (kMaxBlockCount + 1) * kMinBlockSize, 8);
    huge = huge.substr(0, 8) + std::string("\x00\x10\x00\x00", 4) + huge.substr(12);
    EXPECT_FALSE(ParseBlockIndex(huge, index, error));
    EXPECT_EQ(ChooseBlockSize(200ull << 30), 256u * 1024u);
}

TEST(BlockIndex, CollidingWeakSumsStopTheScanInsteadOfHashingForever) {
    // Every window of a zero file has the same weak sum; an index that claims it with strong
    // digests that never match would otherwise cost a digest per byte.
    const std::string zeros(64 * kBlock, '\0');
    BlockIndex index;
    index.fileSize = 4 * kBlock;
    index.blocks.resize(4);
    const RollingSum zeroSum = ComputeRollingSum(BytesOf(zeros), kBlock);
    for (BlockSum& block : index.blocks) {
        block.weak = zeroSum.Value();
        block.strong.fill(0xEE);
    }
    BlockMatch match;
    ASSERT_TRUE(MatchBytes(index, zeros, Xxh64BlockDigest, match));
    EXPECT_TRUE(match.stoppedEarly);
    EXPECT_LE(match.failedConfirmations, (index.fileSize + (64u << 20)) / kBlock + 1);
    EXPECT_EQ(PlanPatch(index, match, 0, 10).remoteBytes, index.fileSize);
}

TEST(BlockIndex, ALocalCopySharingNothingIsGivenUpEarly) {
    // 256 MiB of index and local file that share nothing: the scan stops after the first 64 MiB.
    BlockIndex index;
    index.fileSize = 256ull << 20;
    index.blocks.resize(index.fileSize / kBlock);
    std::uint64_t weak = 1;
    for (BlockSum& block : index.blocks)
        block.weak = weak *= 0x9E3779B97F4A7C15ull;
    const std::string chunk = PatternBytes(1 << 20, 5);
    std::uint64_t served = 0;
    const SequentialRead read = [&](unsigned char* buffer, std::size_t size) -> long long {
        const std::size_t n = static_cast<std::size_t>(
            std::min<std::uint64_t>({size, chunk.size(), index.fileSize - served}));
        std::memcpy(buffer, chunk.data(), n);
        served += n;
        return static_cast<long long>(n);
    };
    BlockMatch match;
    ASSERT_TRUE(MatchLocalBlocks(index, read, Xxh64BlockDigest, {}, match));
    EXPECT_TRUE(match.stoppedEarly);
    EXPECT_LT(served, 80ull << 20);
    EXPECT_EQ(PlanPatch(index, match, 0, 10).remoteBytes, index.fileSize);
}

TEST(BlockIndex, Xxh64DigestsAgreeWithTheReferenceHash) {
    // Values of the reference xxHash; any other tool writing indexes must agree with them.
    const std::string counting = [] {
        std::string out;
        for (int i = 0; i < 768; ++i)
            out.push_back(static_cast<char>(i % 256));
        return out;
    }();
    const auto* bytes = BytesOf(counting);
    EXPECT_EQ(Xxh64(bytes, 0, 0), 0xEF46DB3751D8E999ull);
    EXPECT_EQ(Xxh64(BytesOf("abc"), 3, 0), 0x44BC2CF5AD770999ull);
    EXPECT_EQ(Xxh64(BytesOf("a"), 1, 1), 0xDEC2BC81C3CD46C6ull);
    EXPECT_EQ(Xxh64(bytes, 768, 0), 0x8E03C838C596036Full);
    EXPECT_EQ(Xxh64(bytes, 768, 1), 0xA80257374B99ADE3ull);
    BlockDigest digest;
    digest.fill(0xFF);
    ASSERT_TRUE(Xxh64BlockDigest(bytes, 3, digest));
    // XXH64 of the bytes 0, 1, 2 is 0xE5C7BB4533BC65DD: little-endian, padded with zeros.
    const BlockDigest expected = {0xDD, 0x65, 0xBC, 0x33, 0x45, 0xBB, 0xC7, 0xE5};
    EXPECT_EQ(digest, expected);
}

TEST(BlockIndex, RollingSumEqualsTheSumOfEachWindow) {
    const std::string data = PatternBytes(5000, 4);
    const auto* bytes = BytesOf(data);
    RollingSum sum = ComputeRollingSum(bytes, 1000);
    for (std::size_t i = 0; i + 1000 < data.size(); ++i) {
        RollOne(sum, bytes[i], bytes[i + 1000], 1000);
        ASSERT_EQ(sum.Value(), ComputeRollingSum(bytes + i + 1, 1000).Value()) << i;
    }
}
