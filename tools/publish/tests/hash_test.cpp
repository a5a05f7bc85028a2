#include <gtest/gtest.h>

#include "file_digests.h"
#include "test_support.h"

namespace fs = std::filesystem;
using talvora::FileDigest;
using talvora::HashProgress;
using talvora::kHashBlockSize;
using namespace talvora_test;

namespace {

FileDigest HashOne(const fs::path& path) {
    std::vector<unsigned char> buffer;
    return talvora::Sha256File(path, buffer, nullptr);
}

}  // namespace

TEST(Sha256File, KnownVectors) {
    ScratchDir dir;
    WriteFile(dir / "empty", "");
    WriteFile(dir / "abc", "abc");
    WriteFile(dir / "million", std::string(1000000, 'a'));
    EXPECT_EQ(HashOne(dir / "empty").sha256,
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(HashOne(dir / "abc").sha256,
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    const FileDigest million = HashOne(dir / "million");
    EXPECT_EQ(million.sha256, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    EXPECT_EQ(million.size, 1000000u);
}

TEST(Sha256File, MatchesSha256sumAroundBlockBoundaries) {
    ScratchDir dir;
    const std::size_t sizes[] = {0,
                                 1,
                                 kHashBlockSize - 1,
                                 kHashBlockSize,
                                 kHashBlockSize + 1,
                                 2 * kHashBlockSize,
                                 5 * kHashBlockSize + 123};
    std::vector<fs::path> paths;
    for (const std::size_t size : sizes) {
        paths.push_back(dir / ("f" + std::to_string(size)));
        WriteFile(paths.back(), PatternBytes(size, static_cast<std::uint32_t>(size)));
    }
    const auto reference = Sha256sum(paths);
    if (reference.empty())
        GTEST_SKIP() << "sha256sum not available";
    for (std::size_t i = 0; i < paths.size(); ++i) {
        std::vector<unsigned char> buffer;
        const FileDigest digest = talvora::Sha256File(paths[i], buffer, nullptr);
        EXPECT_EQ(digest.sha256, reference.at(paths[i].string())) << sizes[i];
        EXPECT_EQ(digest.size, sizes[i]);
        // Streaming: the one buffer never grows past a block, whatever the file.
        EXPECT_EQ(buffer.size(), kHashBlockSize);
    }
}

TEST(Sha256Files, ManyFilesInParallelMatchSha256sum) {
    ScratchDir dir;
    std::vector<fs::path> paths;
    std::uint64_t total = 0;
    for (std::uint32_t i = 0; i < 240; ++i) {
        // Mostly small files, every 40th a few blocks long.
        const std::size_t size = (i % 40 == 7) ? 3 * kHashBlockSize + i : (i * 7919u) % 70000u;
        paths.push_back(dir / ("d" + std::to_string(i % 5)) / ("file" + std::to_string(i)));
        WriteFile(paths.back(), PatternBytes(size, i));
        total += size;
    }
    const auto reference = Sha256sum(paths);
    if (reference.empty())
        GTEST_SKIP() << "sha256sum not available";

    HashProgress progress;
    int ticks = 0;
    const auto digests = talvora::Sha256Files(paths, 4, progress, [&] { ++ticks; });
    ASSERT_EQ(digests.size(), paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        EXPECT_EQ(digests[i].sha256, reference.at(paths[i].string())) << paths[i];
    }
    EXPECT_EQ(progress.files.load(), paths.size());
    EXPECT_EQ(progress.bytes.load(), total);
    EXPECT_GE(ticks, 1);

    HashProgress single;
    const auto sequential = talvora::Sha256Files(paths, 1, single, nullptr);
    for (std::size_t i = 0; i < paths.size(); ++i)
        EXPECT_EQ(sequential[i].sha256, digests[i].sha256);
}

TEST(Sha256Files, UnreadableFileFailsAloneWithAReason) {
    ScratchDir dir;
    WriteFile(dir / "a", "abc");
    HashProgress progress;
    const auto digests =
        talvora::Sha256Files({dir / "a", dir / "missing", dir / "a"}, 2, progress, nullptr);
    ASSERT_EQ(digests.size(), 3u);
    EXPECT_EQ(digests[0].sha256,
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_TRUE(digests[1].sha256.empty());
    EXPECT_FALSE(digests[1].error.empty());
    EXPECT_EQ(digests[2].sha256, digests[0].sha256);
}
