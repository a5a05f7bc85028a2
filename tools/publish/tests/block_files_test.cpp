// The block index as the publisher writes it and the launcher's portable code reads and matches
// it: a new file rebuilt from an old copy and fetched ranges must come out byte for byte. The
// index format and the matcher on their own are tested with the shared formats.
#include <gtest/gtest.h>

#include <sstream>

#include "block_files.h"
#include "commands.h"
#include "portable/net/hex_digest.h"
#include "portable/net/sha256.h"
#include "support/block_plan.h"
#include "test_support.h"

namespace fs = std::filesystem;
using namespace talvora_test;

namespace {

constexpr std::size_t kBlock = kDefaultBlockSize;

BlockMatch Match(const BlockIndex& index, const std::string& local) {
    BlockMatch match;
    EXPECT_TRUE(MatchBytes(index, local, BlockDigestFor(index.digestKind), match));
    return match;
}

// What the launcher does with a plan: copy local pieces, take remote ones from the server.
std::string Apply(const PatchPlan& plan, const std::string& local, const std::string& server) {
    std::string fault;
    std::string out = CarryOutPlan(plan, local, server, fault);
    EXPECT_EQ(fault, "");
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
        ASSERT_TRUE(BlockDigestFor(older.digestKind)(bytes + i * kBlock,
                                                     std::min(kBlock, fresh.size() - i * kBlock),
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

}  // namespace
