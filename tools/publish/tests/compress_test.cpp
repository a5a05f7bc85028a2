#include <gtest/gtest.h>

#include <sstream>

#include "commands.h"
#include "portable/net/hex_digest.h"
#include "portable/net/sha256.h"
#include "portable/patch/manifest_format.h"
#include "portable/patch/zlib_stream.h"
#include "test_support.h"

namespace fs = std::filesystem;
using talvora::ManifestOptions;
using namespace talvora_test;

namespace {

std::string Text(std::size_t size) {
    std::string text;
    for (int line = 0; text.size() < size; ++line)
        text += "key" + std::to_string(line % 97) + " = the value of line " + std::to_string(line) +
                "\n";
    text.resize(size);
    return text;
}

struct Published {
    int code;
    std::string out;
    std::string err;
    std::string manifest;
    std::vector<ManifestEntry> entries;
};

Published Publish(const fs::path& client, const fs::path& manifest, bool compress) {
    ManifestOptions options;
    options.clientDir = client;
    options.baseUrl = "http://patch.example/pack/";
    options.versionGiven = true;
    options.version = "7";
    options.out = manifest;
    options.ifMissing = {"config/*"};
    options.blocksMin = 300000;
    options.compress = compress;
    std::ostringstream out, err;
    Published published{talvora::RunManifest(options, out, err), out.str(), err.str(), "", {}};
    if (published.code == 0) {
        published.manifest = ReadFile(manifest);
        ManifestText text;
        ReadManifestText(published.manifest, text);
        published.entries = text.entries;
    }
    return published;
}

const ManifestEntry* Find(const Published& published, const std::string& relPath) {
    for (const ManifestEntry& entry : published.entries) {
        if (entry.relPath == relPath)
            return &entry;
    }
    return nullptr;
}

std::string Inflated(const std::string& copy, std::uint64_t cap) {
    std::string out;
    ZlibInflater inflater(cap, [&out](const char* data, std::size_t size) {
        out.append(data, size);
        return true;
    });
    EXPECT_TRUE(inflater.Feed(copy.data(), copy.size()) && inflater.Finish());
    return out;
}

std::string Sha256Hex(const std::string& bytes) {
    Sha256Digest digest;
    EXPECT_TRUE(Sha256Of(bytes.data(), bytes.size(), digest));
    return HexDigest(digest.data(), digest.size());
}

}  // namespace

// Copies only for the files that shrink and travel whole (not IFMISSING, not BLOCKS); each copy
// inflates to its file and is named by its size and digest as the launcher reads the line. A
// second run lists the same files, with or without --compress, and removes a copy that no longer
// pays.
TEST(Compress, CopiesWhereTheyPayReadBackAsTheLauncherReadsThem) {
    ScratchDir dir;
    const fs::path client = dir / "client";
    const std::string text = Text(200000);
    WriteFile(client / "data" / "text.txt", text);
    WriteFile(client / "random.bin", PatternBytes(100000, 3));
    WriteFile(client / "config" / "user.ini", Text(50000));
    WriteFile(client / "big.pak", Text(400000));

    const Published first = Publish(client, dir / "m.txt", true);
    ASSERT_EQ(first.code, 0) << first.err;
    EXPECT_NE(first.out.find(", 1 ZLIB ("), std::string::npos) << first.out;
    const ManifestEntry* copied = Find(first, "data/text.txt");
    ASSERT_NE(copied, nullptr);
    const std::string copy = ReadFile(client / "data" / "text.txt.zlib");
    EXPECT_EQ(copied->compressedSize, copy.size());
    EXPECT_EQ(copied->compressedSha256, Sha256Hex(copy));
    EXPECT_LT(copy.size(), text.size() / 2);
    EXPECT_TRUE(Inflated(copy, text.size()) == text);
    for (const char* raw : {"random.bin", "config/user.ini", "big.pak"}) {
        ASSERT_NE(Find(first, raw), nullptr) << raw;
        EXPECT_EQ(Find(first, raw)->compressedSize, 0u) << raw;
    }
    EXPECT_EQ(ListNames(client), (std::vector<std::string>{"big.pak", "big.pak.blocks", "config",
                                                           "data", "random.bin"}));

    EXPECT_EQ(Publish(client, dir / "m.txt", true).manifest, first.manifest);
    const Published plain = Publish(client, dir / "m.txt", false);
    ASSERT_EQ(plain.code, 0) << plain.err;
    EXPECT_EQ(plain.manifest.find("ZLIB"), std::string::npos);
    EXPECT_EQ(plain.manifest.find(".zlib"), std::string::npos);
    EXPECT_EQ(plain.out.find("ZLIB"), std::string::npos);

    WriteFile(client / "data" / "text.txt", PatternBytes(200000, 4));
    const Published renewed = Publish(client, dir / "m.txt", true);
    ASSERT_EQ(renewed.code, 0) << renewed.err;
    EXPECT_EQ(Find(renewed, "data/text.txt")->compressedSize, 0u);
    EXPECT_EQ(ListNames(client / "data"), std::vector<std::string>{"text.txt"});
}

// A game file at another file's copy name is no copy: published as it is without --compress,
// refused with it (the copy would overwrite it).
TEST(Compress, AGameFileAtACopysNameIsRefused) {
    ScratchDir dir;
    const fs::path client = dir / "client";
    WriteFile(client / "a.txt", Text(100000));
    WriteFile(client / "a.txt.zlib", "not a zlib stream");
    const Published plain = Publish(client, dir / "m.txt", false);
    ASSERT_EQ(plain.code, 0) << plain.err;
    EXPECT_NE(Find(plain, "a.txt.zlib"), nullptr);
    const Published compressed = Publish(client, dir / "m.txt", true);
    EXPECT_EQ(compressed.code, 1);
    EXPECT_NE(compressed.err.find("'a.txt.zlib': is where the compressed copy of 'a.txt' goes"),
              std::string::npos)
        << compressed.err;
    EXPECT_EQ(ReadFile(client / "a.txt.zlib"), "not a zlib stream");
}
