// The block index as the publisher writes it and the launcher's portable code reads and matches
// it: a new file rebuilt from an old copy and fetched ranges must come out byte for byte.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "block_files.h"
#include "commands.h"
#include "portable/net/hex_digest.h"
#include "portable/patch/block_match.h"
#include "portable/patch/xxh64.h"
#include "portable/net/sha256.h"
#include "test_support.h"

namespace fs = std::filesystem;
using namespace talvora_test;

namespace {

constexpr std::size_t kBlock = kDefaultBlockSize;

BlockMatch Match(const BlockIndex& index, const std::string& local) {
    std::size_t at = 0;
    const SequentialRead read = [&](unsigned char* buffer, std::size_t size) -> long long {
        const std::size_t n = std::min(size, local.size() - at);
        std::memcpy(buffer, local.data() + at, n);
        at += n;
        return static_cast<long long>(n);
    };
    BlockMatch match;
    EXPECT_TRUE(
        MatchLocalBlocks(index, read, talvora::BlockDigestFor(index.digestKind), {}, match));
    return match;
}

// What the launcher does with a plan: copy local pieces, take remote ones from the server.
std::string Apply(const PatchPlan& plan, const std::string& local, const std::string& server) {
    std::string out;
    for (const PlanPiece& piece : plan.pieces) {
        const std::string& from = piece.remote ? server : local;
        out += from.substr(piece.remote ? piece.offset : piece.localOffset, piece.length);
    }
    return out;
}

TEST(BlockIndex, PublisherWritesIndexesThatRebuildTheNewFileFromAnOldOne) {
    ScratchDir dir;
    const std::string fresh = PatternBytes(40 * kBlock + 1234, 7);
    WriteFile(dir / "client/data/big.pak", fresh);
    WriteFile(dir / "client/small.txt", "small");
    talvora::ManifestOptions options;
    options.clientDir = dir / "client";
    options.baseUrl = "http://patch.example/pack/";
    options.versionGiven = true;
    options.version = "1";
    options.out = dir / "manifest.txt";
    options.blocksMin = kBlock;
    std::ostringstream out, err;
    for (int run = 0; run < 2; ++run) {  // the second run must not list the index it wrote
        ASSERT_EQ(talvora::RunManifest(options, out, err), talvora::kExitOk) << err.str();
        const std::string manifest = ReadFile(dir / "manifest.txt");
        EXPECT_NE(manifest.find("data/big.pak\t" + std::to_string(fresh.size())),
                  std::string::npos);
        // The line names the SHA-256 of the index file written beside it.
        const std::string indexBytes = ReadFile(dir / "client/data/big.pak.blocks");
        Sha256Digest indexDigest;
        ASSERT_TRUE(Sha256Of(indexBytes.data(), indexBytes.size(), indexDigest));
        EXPECT_NE(manifest.find("\tBLOCKS\t" + HexDigest(indexDigest.data(), 32) + "\n"),
                  std::string::npos)
            << manifest;
        EXPECT_EQ(manifest.find("small.txt\t5\t"), manifest.rfind("small.txt\t5\t"));
        EXPECT_EQ(manifest.find(".blocks"), std::string::npos) << manifest;
        EXPECT_EQ(manifest.find("BLOCKS"), manifest.rfind("BLOCKS"));
    }

    BlockIndex index;
    std::string error;
    ASSERT_TRUE(ParseBlockIndex(ReadFile(dir / "client/data/big.pak.blocks"), index, error))
        << error;
    EXPECT_EQ(index.fileSize, fresh.size());
    EXPECT_EQ(index.blocks.size(), 41u);
    EXPECT_EQ(FormatBlockIndex(index), ReadFile(dir / "client/data/big.pak.blocks"));

    // Scattered changes, a change in the short last block, an insertion near the start and a
    // deletion: only what differs is fetched, and the result is the new file.
    std::string changed = fresh;
    for (std::size_t at : {3 * kBlock + 5, 17 * kBlock, 29 * kBlock + kBlock - 1})
        changed[at] = static_cast<char>(changed[at] ^ 0x5A);
    std::string inserted =
        fresh.substr(0, 2 * kBlock + 77) + PatternBytes(5000, 9) + fresh.substr(2 * kBlock + 77);
    std::string removed = fresh.substr(0, 10 * kBlock) + fresh.substr(11 * kBlock + 3);
    struct Case {
        const char* name;
        std::string old;
        std::uint64_t maxRemote;
    } cases[] = {{"identical", fresh, 0},
                 {"changed", changed, 3 * kBlock},
                 {"inserted", inserted, kBlock},
                 {"removed", removed, 2 * kBlock},
                 {"unrelated", PatternBytes(fresh.size(), 8), fresh.size()}};
    // Indexes of the first kind (SHA-256 halves) are still published packs: they match alike.
    EXPECT_EQ(index.digestKind, BlockDigestKind::Xxh64);
    BlockIndex older = index;
    older.digestKind = BlockDigestKind::Sha256Half;
    const auto* bytes = reinterpret_cast<const unsigned char*>(fresh.data());
    for (std::size_t i = 0; i < older.blocks.size(); ++i) {
        ASSERT_TRUE(talvora::BlockDigestFor(older.digestKind)(
            bytes + i * kBlock, std::min(kBlock, fresh.size() - i * kBlock),
            older.blocks[i].strong));
    }
    ASSERT_TRUE(ParseBlockIndex(FormatBlockIndex(older), older, error)) << error;
    ASSERT_EQ(older.digestKind, BlockDigestKind::Sha256Half);
    for (const BlockIndex* which : {&index, &older}) {
        for (const Case& c : cases) {
            const BlockMatch match = Match(*which, c.old);
            const PatchPlan plan = PlanPatch(*which, match, 0, 1000);
            EXPECT_LE(plan.remoteBytes, c.maxRemote) << c.name;
            EXPECT_EQ(Apply(plan, c.old, fresh), fresh) << c.name;
        }
    }
    EXPECT_EQ(PlanPatch(index, Match(index, PatternBytes(100, 3)), 0, 1000).remoteBytes,
              fresh.size());

    // Few requests: the gap between remote runs grows until the cap holds.
    const PatchPlan capped = PlanPatch(index, Match(index, changed), 0, 1);
    EXPECT_EQ(capped.remoteRanges, 1u);
    EXPECT_EQ(Apply(capped, changed, fresh), fresh);
}

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
    const RollingSum zeroSum =
        ComputeRollingSum(reinterpret_cast<const unsigned char*>(zeros.data()), kBlock);
    for (BlockSum& block : index.blocks) {
        block.weak = zeroSum.Value();
        block.strong.fill(0xEE);
    }
    const BlockMatch match = Match(index, zeros);
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
        const std::size_t n =
            std::min<std::uint64_t>({size, chunk.size(), index.fileSize - served});
        std::memcpy(buffer, chunk.data(), n);
        served += n;
        return static_cast<long long>(n);
    };
    BlockMatch match;
    ASSERT_TRUE(
        MatchLocalBlocks(index, read, talvora::BlockDigestFor(index.digestKind), {}, match));
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
    const auto* bytes = reinterpret_cast<const unsigned char*>(counting.data());
    EXPECT_EQ(Xxh64(bytes, 0, 0), 0xEF46DB3751D8E999ull);
    EXPECT_EQ(Xxh64(reinterpret_cast<const unsigned char*>("abc"), 3, 0), 0x44BC2CF5AD770999ull);
    EXPECT_EQ(Xxh64(reinterpret_cast<const unsigned char*>("a"), 1, 1), 0xDEC2BC81C3CD46C6ull);
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
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
    RollingSum sum = ComputeRollingSum(bytes, 1000);
    for (std::size_t i = 0; i + 1000 < data.size(); ++i) {
        RollOne(sum, bytes[i], bytes[i + 1000], 1000);
        ASSERT_EQ(sum.Value(), ComputeRollingSum(bytes + i + 1, 1000).Value()) << i;
    }
}

}  // namespace
