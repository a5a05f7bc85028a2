#include <gtest/gtest.h>

#include <sstream>

#include "commands.h"
#include "manifest_writer.h"
#include "test_support.h"

namespace fs = std::filesystem;
using talvora::ManifestOptions;
using namespace talvora_test;

namespace {

const std::string kEmpty = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
const std::string kAbc = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
const std::string kHello = "5891b5b522d5df086d0ff0b110fbd9d21bb4fc7163af34d08286a2e846f6be03";

struct Outcome {
    int code;
    std::string err;
};

Outcome Publish(const ManifestOptions& options) {
    std::ostringstream out, err;
    const int code = talvora::RunManifest(options, out, err);
    return {code, err.str()};
}

ManifestOptions Options(const fs::path& client, const fs::path& out) {
    ManifestOptions options;
    options.clientDir = client;
    options.baseUrl = "http://patch.example/pack/";
    options.versionGiven = true;
    options.version = "7";
    options.out = out;
    return options;
}

// The manifest lines' paths, in file order.
std::vector<std::string> ListedPaths(const std::string& manifest) {
    std::vector<std::string> paths;
    std::istringstream lines(manifest);
    std::string line;
    while (std::getline(lines, line)) {
        const auto tab = line.find('\t');
        if (line.find('\t', tab + 1) != std::string::npos)
            paths.push_back(line.substr(0, tab));
    }
    return paths;
}

}  // namespace

TEST(Manifest, ExactBytesForAFixedTree) {
    ScratchDir dir;
    const fs::path client = dir / "client";
    WriteFile(client / "readme.txt", "hello\n");
    WriteFile(client / "Zeta.txt", "");
    WriteFile(client / "data" / "a.pak", "abc");
    WriteFile(client / "data" / "sub" / "empty.bin", "");
    WriteFile(client / "data0.txt", "abc");
    WriteFile(client / "config" / "user.cfg", "hello\n");
    WriteFile(client / "data" / "\xc5\x91.txt", "abc");
    fs::create_directories(client / "empty-folder");

    ManifestOptions options = Options(client, dir / "patch_manifest.txt");
    options.ifMissing = {"config/*.cfg"};
    options.jobs = 3;
    ASSERT_EQ(Publish(options).code, 0);
    EXPECT_EQ(ReadFile(dir / "patch_manifest.txt"),
              "VERSION\t7\n"
              "BASE\thttp://patch.example/pack/\n"
              "Zeta.txt\t0\t" +
                  kEmpty + "\n" + "config/user.cfg\t6\t" + kHello + "\tIFMISSING\n" +
                  "data/a.pak\t3\t" + kAbc + "\n" + "data/sub/empty.bin\t0\t" + kEmpty + "\n" +
                  "data/\xc5\x91.txt\t3\t" + kAbc + "\n" + "data0.txt\t3\t" + kAbc + "\n" +
                  "readme.txt\t6\t" + kHello + "\n");
    EXPECT_EQ(ListNames(dir.path()), (std::vector<std::string>{"client", "patch_manifest.txt"}));
}

TEST(Manifest, SortedByteWiseByTheWrittenPath) {
    // '-' 0x2D < '/' 0x2F < '0' 0x30 < 'A' 0x41 < '\' 0x5C < '_' 0x5F < 'a' 0x61: the
    // separator decides whether "a/..." comes before or after "a0.txt".
    const std::vector<ManifestEntry> files = {
        {"a/b/c.txt", 1, "x", false}, {"a_b", 1, "x", false},   {"a0.txt", 1, "x", false},
        {"a-b/c", 1, "x", false},     {"A.txt", 1, "x", false}, {"a/b.txt", 1, "x", false},
        {"a/B/z", 1, "x", false},     {"b", 1, "x", false},
    };
    EXPECT_EQ(ListedPaths(talvora::FormatManifest("1", "http://h/", files, '/')),
              (std::vector<std::string>{"A.txt", "a-b/c", "a/B/z", "a/b.txt", "a/b/c.txt", "a0.txt",
                                        "a_b", "b"}));
    EXPECT_EQ(ListedPaths(talvora::FormatManifest("1", "http://h/", files, '\\')),
              (std::vector<std::string>{"A.txt", "a-b\\c", "a0.txt", "a\\B\\z", "a\\b.txt",
                                        "a\\b\\c.txt", "a_b", "b"}));
}

TEST(Manifest, SameTreeGivesSameBytesAndSkipsItsOwnOutput) {
    ScratchDir dir;
    for (int i = 0; i < 30; ++i) {
        WriteFile(dir / ("d" + std::to_string(i % 4)) / ("f" + std::to_string(i)),
                  PatternBytes(1000u * i, i));
    }
    // The output lies inside the client folder: never listed, not on the first
    // run and not on the second, when it exists.
    ManifestOptions options = Options(dir.path(), dir / "patch_manifest.txt");
    options.jobs = 1;
    ASSERT_EQ(Publish(options).code, 0);
    const std::string first = ReadFile(dir / "patch_manifest.txt");
    options.jobs = 4;
    ASSERT_EQ(Publish(options).code, 0);
    EXPECT_EQ(ReadFile(dir / "patch_manifest.txt"), first);
    EXPECT_EQ(ListedPaths(first).size(), 30u);
    EXPECT_EQ(first.find("patch_manifest"), std::string::npos);
}

TEST(Manifest, WarnsButWritesWhenBaseLacksSlashOrGlobMatchesNothing) {
    ScratchDir dir;
    WriteFile(dir / "client" / "a.txt", "abc");
    ManifestOptions options = Options(dir / "client", dir / "m.txt");
    options.baseUrl = "http://patch.example/pack";
    options.ifMissing = {"nothing/*"};
    const Outcome outcome = Publish(options);
    EXPECT_EQ(outcome.code, 0);
    EXPECT_NE(outcome.err.find("does not end with '/'"), std::string::npos);
    EXPECT_NE(outcome.err.find("'nothing/*' matches no file"), std::string::npos);
    EXPECT_EQ(ReadFile(dir / "m.txt"),
              "VERSION\t7\nBASE\thttp://patch.example/pack\na.txt\t3\t" + kAbc + "\n");
}

// The summary line adds up what the stages decided: the walk leaves out the indexes of earlier
// runs, the entries pick IFMISSING and the files of at least --blocks-min bytes, and only those
// get an index.
TEST(Manifest, SummaryCountsWhatEachStageDecided) {
    ScratchDir dir;
    WriteFile(dir / "client" / "data" / "big.pak", PatternBytes(300000, 1));
    WriteFile(dir / "client" / "config" / "big.ini", PatternBytes(200000, 2));
    WriteFile(dir / "client" / "small.txt", std::string(524, 's'));
    const struct {
        std::uint64_t blocksMin;
        const char* blocks;
    } rows[] = {{100000, "1 BLOCKS"}, {0, "0 BLOCKS"}, {300000, "1 BLOCKS"}, {300001, "0 BLOCKS"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.blocksMin);
        ManifestOptions options = Options(dir / "client", dir / "m.txt");
        options.ifMissing = {"config/*"};
        options.blocksMin = row.blocksMin;
        std::ostringstream out, err;
        ASSERT_EQ(talvora::RunManifest(options, out, err), 0) << err.str();
        EXPECT_EQ(out.str(), "wrote '" + (dir / "m.txt").string() +
                                 "': 3 files, 488.8 KiB, 1 IFMISSING, " + row.blocks +
                                 ", VERSION 7\n");
        const std::string manifest = ReadFile(dir / "m.txt");
        EXPECT_EQ(manifest.find("\tBLOCKS") != std::string::npos, row.blocks[0] == '1') << manifest;
        EXPECT_EQ(manifest.find(".blocks"), std::string::npos) << manifest;
    }
    EXPECT_EQ(ListNames(dir / "client" / "data"),
              (std::vector<std::string>{"big.pak", "big.pak.blocks"}));
    EXPECT_EQ(ListNames(dir / "client" / "config"), std::vector<std::string>{"big.ini"});
}

TEST(Manifest, DefaultVersionIsUtcTimestamp) {
    ScratchDir dir;
    WriteFile(dir / "client" / "a.txt", "abc");
    ManifestOptions options = Options(dir / "client", dir / "m.txt");
    options.versionGiven = false;
    ASSERT_EQ(Publish(options).code, 0);
    const std::string text = ReadFile(dir / "m.txt");
    const std::string version = text.substr(8, text.find('\n') - 8);
    ASSERT_EQ(version.size(), 16u) << version;
    EXPECT_EQ(version[8], 'T');
    EXPECT_EQ(version[15], 'Z');
    EXPECT_EQ(version.substr(0, 2), "20");
}

// Every refusal: exit 1, the offender named, the old output untouched and no
// temporary file left beside it.
class ManifestRefusal : public ::testing::Test {
  protected:
    void SetUp() override {
        WriteFile(client_ / "good" / "file.txt", "abc");
        WriteFile(out_ / "patch_manifest.txt", "OLD\n");
    }

    void ExpectRefused(ManifestOptions options, const std::string& named) {
        const Outcome outcome = Publish(options);
        EXPECT_EQ(outcome.code, 1);
        EXPECT_NE(outcome.err.find(named), std::string::npos) << outcome.err;
        EXPECT_EQ(ReadFile(out_ / "patch_manifest.txt"), "OLD\n");
        EXPECT_EQ(ListNames(out_), std::vector<std::string>{"patch_manifest.txt"});
    }

    ManifestOptions Opts() { return Options(client_, out_ / "patch_manifest.txt"); }

    ScratchDir dir_;
    fs::path client_ = dir_ / "client";
    fs::path out_ = dir_ / "out";
};

#ifndef _WIN32
TEST_F(ManifestRefusal, NamesTheLauncherCannotUse) {
    const struct {
        const char* name;
        const char* shown;
    } cases[] = {
        {"good/a:b.pak", "'good/a:b.pak'"}, {"tab\tname", "'tab\\tname'"},
        {"cr\rname", "'cr\\rname'"},        {"lf\nname", "'lf\\nname'"},
        {"bad\xff.bin", "'bad\\xFF.bin'"},  {"dir:x/inner.txt", "'dir:x/inner.txt'"},
        {"#notes.txt", "'#notes.txt'"},     {"back\\slash", "'back\\slash'"},
        {"nul.txt", "'nul.txt'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shown);
        WriteFile(client_ / c.name, "x");
        ExpectRefused(Opts(), c.shown);
        fs::remove(client_ / c.name);
        fs::remove(client_ / "dir:x");
    }
}

TEST_F(ManifestRefusal, LinksOutsideBrokenOrToFolders) {
    WriteFile(dir_ / "outside.txt", "secret");
    fs::create_symlink(dir_ / "outside.txt", client_ / "escape.txt");
    ExpectRefused(Opts(), "'escape.txt': symbolic link points outside");
    fs::remove(client_ / "escape.txt");

    fs::create_symlink(client_ / "gone.txt", client_ / "broken.txt");
    ExpectRefused(Opts(), "'broken.txt': broken symbolic link");
    fs::remove(client_ / "broken.txt");

    fs::create_directory_symlink(client_ / "good", client_ / "loop");
    ExpectRefused(Opts(), "'loop': symbolic link to a folder");
    fs::remove(client_ / "loop");

    // A link to a file inside is published as that file.
    fs::create_symlink(client_ / "good" / "file.txt", client_ / "alias.txt");
    ASSERT_EQ(Publish(Opts()).code, 0);
    EXPECT_NE(ReadFile(out_ / "patch_manifest.txt").find("alias.txt\t3\t" + kAbc + "\n"),
              std::string::npos);
}

TEST_F(ManifestRefusal, NamesOnlyWindowsConfuses) {
    WriteFile(client_ / "Good" / "FILE.txt", "y");
    ExpectRefused(Opts(), "'good/file.txt' and 'Good/FILE.txt'");
}
#endif

TEST_F(ManifestRefusal, BadArguments) {
    ManifestOptions options = Opts();
    options.baseUrl = "";
    ExpectRefused(options, "--base");
    options.baseUrl = "ftp://patch.example/";
    ExpectRefused(options, "http://");
    options.baseUrl = "http://patch.example/\tx/";
    ExpectRefused(options, "TAB");

    options = Opts();
    options.version = "1\t2";
    ExpectRefused(options, "--version");
    options.version = "";
    ExpectRefused(options, "--version");

    options = Opts();
    options.clientDir = dir_ / "missing";
    ExpectRefused(options, "missing");

    options = Opts();
    options.clientDir = dir_ / "empty";
    fs::create_directories(options.clientDir);
    fs::create_directories(options.clientDir / "only-folders" / "inside");
    ExpectRefused(options, "no files");
}
