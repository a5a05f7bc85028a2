// Block indexes, the scan of a local copy and the plan that rebuilds the new file from it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "portable/patch/block_index.h"
#include "portable/patch/block_match.h"
#include "portable/patch/xxh64.h"
#include "support/block_plan.h"
#include "support/pattern_bytes.h"

namespace {

constexpr std::size_t kBlock = kDefaultBlockSize;

// The index of a file of `fileSize` bytes at `blockSize`, as bytes (zero sums).
std::string IndexBytes(std::uint64_t blockSize, std::uint64_t fileSize) {
    BlockIndex header;
    header.blockSize = static_cast<std::uint32_t>(blockSize);
    header.fileSize = fileSize;
    std::string body = FormatBlockIndex(header);
    const std::uint64_t count = blockSize == 0 ? 0 : BlockCountFor(fileSize, header.blockSize);
    for (std::size_t i = 0; i < 8; ++i)
        body[24 + i] = static_cast<char>((count >> (8 * i)) & 0xFF);
    return body + std::string(static_cast<std::size_t>(count) * kBlockRecordSize, '\0');
}

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
        patched(7, '2', 1),                     // magic's last byte
        patched(8, 3 * 1024, 4),                // no power of two
        patched(8, 1024, 4),                    // too small
        patched(8, 1u << 30, 4),                // too large
        patched(12, 2, 4),                      // an unknown kind of strong digest
        patched(16, 100 * kBlock, 8),           // size and count disagree
        patched(16, 2 * kBlock, 8),             // a size that is one block short
        patched(24, 1ull << 40, 8),             // absurd count
        patched(16, (1ull << 40) * kBlock, 8),  // a size whose count is absurd
    };
    for (const std::string& body : hostile) {
        error.clear();
        EXPECT_FALSE(ParseBlockIndex(body, index, error)) << body.size();
        EXPECT_FALSE(error.empty());
    }

    // A block count past the bound is refused even when everything else agrees.
    std::string huge = patched(16, (kMaxBlockCount + 1) * kMinBlockSize, 8);
    huge = huge.substr(0, 8) + std::string("\x00\x10\x00\x00", 4) + huge.substr(12);
    EXPECT_FALSE(ParseBlockIndex(huge, index, error));
    EXPECT_EQ(ChooseBlockSize(200ull << 30), 256u * 1024u);
}

// Every bound is inclusive: the smallest and largest block size and the largest block count are
// taken, one step past each is not; a publisher picks the smallest block size that fits.
TEST(BlockIndex, BoundsAreTakenExactlyAndRefusedOnePastThem) {
    const struct {
        std::uint64_t blockSize, fileSize;
        bool taken;
    } cases[] = {
        {kMinBlockSize, 2 * kMinBlockSize - 1, true},
        {kMaxBlockSize, 2 * std::uint64_t{kMaxBlockSize} - 1, true},
        {kMinBlockSize / 2, kMinBlockSize, false},
        {2 * std::uint64_t{kMaxBlockSize}, 1, false},
        {kMinBlockSize + kMinBlockSize / 2, kMinBlockSize, false},  // no power of two
        {0, 0, false},
        {kMinBlockSize, kMaxBlockCount * kMinBlockSize, true},       // the most blocks
        {kMinBlockSize, kMaxBlockCount * kMinBlockSize + 1, false},  // one block more
        {kMinBlockSize, 0, true},                                    // an empty file
    };
    for (const auto& c : cases) {
        BlockIndex index;
        std::string error;
        const std::string body = IndexBytes(c.blockSize, c.fileSize);
        EXPECT_EQ(ParseBlockIndex(body, index, error), c.taken) << c.blockSize << " " << c.fileSize;
        if (c.taken) {
            EXPECT_EQ(index.blockSize, c.blockSize);
            EXPECT_EQ(index.fileSize, c.fileSize);
            EXPECT_EQ(index.blocks.size(),
                      (body.size() - kBlockIndexHeaderSize) / kBlockRecordSize);
        }
    }
    const struct {
        std::uint64_t fileSize, blocks, blockSize;
    } counts[] = {{0, 0, kBlock},
                  {1, 1, kBlock},
                  {kBlock - 1, 1, kBlock},
                  {kBlock, 1, kBlock},
                  {kBlock + 1, 2, kBlock},
                  {kMaxBlockCount * kBlock, kMaxBlockCount, kBlock},
                  {kMaxBlockCount * kBlock + 1, kMaxBlockCount / 2 + 1, 2 * kBlock},
                  {kMaxBlockCount * kMaxBlockSize, kMaxBlockCount, kMaxBlockSize},
                  {kMaxBlockCount * kMaxBlockSize + 1, 0, 0}};
    for (const auto& c : counts) {
        EXPECT_EQ(ChooseBlockSize(c.fileSize), c.blockSize) << c.fileSize;
        if (c.blockSize != 0) {
            EXPECT_EQ(BlockCountFor(c.fileSize, static_cast<std::uint32_t>(c.blockSize)), c.blocks);
        }
    }
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
    // Published indexes fix the form: a = sum of the bytes, b = sum of (n - i) * byte.
    const unsigned char three[] = {1, 2, 200};
    EXPECT_EQ(ComputeRollingSum(three, 3).Value(),
              (std::uint64_t{3 * 1 + 2 * 2 + 200} << 32) | 203);
    const std::string data = PatternBytes(5000, 4);
    const auto* bytes = BytesOf(data);
    RollingSum sum = ComputeRollingSum(bytes, 1000);
    for (std::size_t i = 0; i + 1000 < data.size(); ++i) {
        RollOne(sum, bytes[i], bytes[i + 1000], 1000);
        ASSERT_EQ(sum.Value(), ComputeRollingSum(bytes + i + 1, 1000).Value()) << i;
    }
}

// Plans over random matches: each local piece copies, block for block, from where the match found
// that block; the request cap holds at every value, and a cap that is not needed costs nothing.
TEST(BlockPlan, LocalPiecesCopyFromWhereTheMatchFoundEachBlockWithinEveryCap) {
    constexpr std::uint64_t kB = kMinBlockSize;  // the plan only counts blocks
    constexpr std::size_t kNoCap = std::numeric_limits<std::size_t>::max();
    std::mt19937_64 random(22);
    const auto below = [&](std::uint64_t n) { return random() % n; };
    for (int round = 0; round < 600; ++round) {
        BlockIndex index;
        index.blockSize = static_cast<std::uint32_t>(kB);
        const std::size_t count = static_cast<std::size_t>(1 + below(40));
        index.fileSize = (count - 1) * kB + 1 + below(kB);
        index.blocks.resize(count);
        const std::uint64_t localSize = kB * (1 + below(60)) + below(kB);
        BlockMatch match;
        match.localOffset.assign(count, kNoLocalSource);
        std::uint64_t fetchAll = 0;  // what no merging fetches
        std::size_t ranges = 0;
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint64_t length = std::min(kB, index.fileSize - i * kB);
            const std::uint64_t previous = i > 0 ? match.localOffset[i - 1] : kNoLocalSource;
            const std::uint64_t roll = below(4);
            if (roll == 1 && previous != kNoLocalSource && previous + kB + length <= localSize)
                match.localOffset[i] = previous + kB;  // the local copy continues
            else if (roll >= 1 && localSize >= length)
                match.localOffset[i] = below(localSize - length + 1);
            if (match.localOffset[i] == kNoLocalSource) {
                fetchAll += length;
                ranges += i == 0 || previous != kNoLocalSource ? 1 : 0;
            }
        }

        // What a plan without a cap fetches at `gap`: the missing blocks, and every local run
        // between two fetched ones that is no longer than the gap.
        const auto fetchedAtGap = [&](std::uint64_t gap) {
            std::uint64_t fetched = 0;
            for (std::size_t i = 0; i < count;) {
                std::size_t end = i;
                std::uint64_t length = 0;
                const bool local = match.localOffset[i] != kNoLocalSource;
                while (end < count && (match.localOffset[end] != kNoLocalSource) == local)
                    length += std::min(kB, index.fileSize - kB * end++);
                if (!local || (i > 0 && end < count && length <= gap))
                    fetched += length;
                i = end;
            }
            return fetched;
        };

        const std::uint64_t gaps[] = {0, kB, 3 * kB, below(8 * kB)};
        std::size_t caps[] = {0, 1, 2, ranges / 2, ranges, ranges + 1, kNoCap};
        std::sort(std::begin(caps), std::end(caps));
        for (const std::uint64_t gap : gaps) {
            std::uint64_t fetchedBefore = std::numeric_limits<std::uint64_t>::max();
            for (const std::size_t cap : caps) {
                const PatchPlan plan = PlanPatch(index, match, gap, cap);
                SCOPED_TRACE(testing::Message() << "round " << round << " gap " << gap << " cap "
                                                << cap << " ranges " << ranges);
                std::uint64_t at = 0, remoteBytes = 0;
                std::size_t remoteRanges = 0;
                for (const PlanPiece& piece : plan.pieces) {
                    ASSERT_EQ(piece.offset, at);
                    ASSERT_GT(piece.length, 0u);
                    at += piece.length;
                    if (piece.remote) {
                        remoteBytes += piece.length;
                        ++remoteRanges;
                        continue;
                    }
                    ASSERT_EQ(piece.offset % kB, 0u);
                    ASSERT_TRUE(at % kB == 0 || at == index.fileSize);
                    for (std::uint64_t b = piece.offset; b < at; b += kB) {
                        ASSERT_EQ(match.localOffset[b / kB], piece.localOffset + (b - piece.offset))
                            << "block " << b / kB;
                    }
                }
                ASSERT_EQ(at, index.fileSize);
                EXPECT_EQ(plan.remoteBytes, remoteBytes);
                EXPECT_EQ(plan.remoteRanges, remoteRanges);
                EXPECT_LE(remoteRanges, std::max<std::size_t>(cap, 1));
                EXPECT_GE(remoteBytes, fetchAll);
                EXPECT_LE(remoteBytes, fetchedBefore);  // a higher cap never fetches more
                fetchedBefore = remoteBytes;
                if (cap == kNoCap) {
                    EXPECT_EQ(remoteBytes, fetchedAtGap(gap));
                }
                if (gap == 0 && cap >= ranges) {
                    EXPECT_EQ(remoteBytes, fetchAll);
                    EXPECT_EQ(remoteRanges, ranges);
                }
            }
        }
    }
}

// The scan finds each block of the new file wherever an older copy holds it (moved, repeated,
// between unrelated bytes, at the very start or end), and the plan rebuilds the new file.
TEST(BlockMatch, FindsBlocksWhereverTheLocalCopyHoldsThemAndThePlanRebuildsTheFile) {
    constexpr std::uint32_t kB = kMinBlockSize;
    // A local copy that is the short last block and nothing else, or a byte less of it; also when
    // that block is the whole file.
    for (const std::size_t whole : {std::size_t{3}, std::size_t{0}}) {
        const std::string fresh = PatternBytes(whole * kB + 100, 77);
        const BlockIndex index = IndexOfBytes(fresh, kB, Xxh64BlockDigest);
        const std::string tail = fresh.substr(whole * kB);
        for (const std::string& local : {tail, tail.substr(1), std::string()}) {
            BlockMatch match;
            ASSERT_TRUE(MatchBytes(index, local, Xxh64BlockDigest, match));
            EXPECT_EQ(match.localOffset[whole], local == tail ? std::uint64_t{0} : kNoLocalSource)
                << whole << " " << local.size();
        }
    }
    std::mt19937_64 random(2022);
    const auto below = [&](std::uint64_t n) { return static_cast<std::size_t>(random() % n); };
    for (int round = 0; round < 60; ++round) {
        const std::size_t count = 1 + below(24);
        const std::size_t tail = round % 3 == 0 ? kB : 1 + below(kB);  // whole or short last
        const std::string fresh =
            PatternBytes((count - 1) * kB + tail, static_cast<std::uint32_t>(round));
        const BlockIndex index = IndexOfBytes(fresh, kB, Xxh64BlockDigest);
        const auto block = [&](std::size_t i) { return fresh.substr(i * kB, kB); };

        // Some full blocks, shuffled and some twice, with unrelated bytes between (up to 1 MiB in
        // the first rounds, so windows straddle the scan's reads), then perhaps the last block.
        std::vector<std::size_t> order;
        for (std::size_t i = 0; i < count; ++i) {
            if (fresh.size() - i * kB >= kB && below(4) != 0)
                order.push_back(i);
        }
        std::shuffle(order.begin(), order.end(), random);
        if (!order.empty() && below(2) == 0)
            order.push_back(order[below(order.size())]);
        const std::size_t maxJunk = round < 3 ? 1u << 20 : 2 * kB;
        std::string local;
        std::uint32_t junkSeed = 1000 + static_cast<std::uint32_t>(round) * 64;
        for (const std::size_t i : order) {
            local += PatternBytes(below(3) == 0 ? 0 : below(maxJunk), junkSeed++);
            local += block(i);
        }
        const bool tailKept = tail != kB && below(2) == 0;
        if (tailKept)
            local += fresh.substr((count - 1) * kB);

        BlockMatch match;
        ASSERT_TRUE(MatchBytes(index, local, Xxh64BlockDigest, match));
        ASSERT_EQ(match.localOffset.size(), count);
        EXPECT_FALSE(match.stoppedEarly);
        std::uint64_t missing = 0;
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint64_t length = std::min<std::uint64_t>(kB, fresh.size() - i * kB);
            const bool held = std::find(order.begin(), order.end(), i) != order.end() ||
                              (i == count - 1 && tailKept);
            EXPECT_EQ(match.localOffset[i] != kNoLocalSource, held) << round << " block " << i;
            if (match.localOffset[i] == kNoLocalSource) {
                missing += length;
                continue;
            }
            EXPECT_EQ(local.compare(match.localOffset[i], length, fresh, i * kB, length), 0)
                << round << " block " << i;
        }
        for (const std::size_t cap : {std::size_t{1}, std::numeric_limits<std::size_t>::max()}) {
            const PatchPlan plan = PlanPatch(index, match, 0, cap);
            std::string fault;
            EXPECT_EQ(CarryOutPlan(plan, local, fresh, fault), fresh) << round << " " << fault;
            EXPECT_EQ(fault, "");
            if (cap != 1) {
                EXPECT_EQ(plan.remoteBytes, missing) << round;
            }
        }
    }
}
