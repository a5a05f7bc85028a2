#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "portable/patch/compressed_copy.h"
#include "portable/patch/manifest_format.h"

namespace {

struct Parsed {
    bool ok = false;
    std::string baseUrl;
    std::vector<ManifestEntry> entries;
};

Parsed Parse(const std::string& body) {
    ManifestText text;
    Parsed p;
    p.ok = ReadManifestText(body, text);
    p.baseUrl = text.baseUrl;
    p.entries = text.entries;
    return p;
}

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

}  // namespace

TEST(SplitTabFields, EveryTabSeparatesAndCarriageReturnsVanish) {
    EXPECT_EQ(SplitTabFields("a\tb\tc"), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(SplitTabFields("a\t\tc"), (std::vector<std::string>{"a", "", "c"}));
    EXPECT_EQ(SplitTabFields("a\t"), (std::vector<std::string>{"a", ""}));
    EXPECT_EQ(SplitTabFields("\t"), (std::vector<std::string>{"", ""}));
    EXPECT_EQ(SplitTabFields("x\ry\t z \r"), (std::vector<std::string>{"xy", " z "}));
    EXPECT_EQ(SplitTabFields(""), (std::vector<std::string>{""}));
}

TEST(ManifestLines, CrLfReadsExactlyLikeLf) {
    const std::string lf =
        "VERSION\t7\nBASE\thttp://h/p/\na.pak\t10\tabc\nb\\c.pak\t20\tdef\tIFMISSING\n";
    std::string crlf;
    for (char c : lf) {
        if (c == '\n')
            crlf += '\r';
        crlf += c;
    }
    const Parsed a = Parse(lf);
    const Parsed b = Parse(crlf);
    ASSERT_TRUE(a.ok);
    ASSERT_TRUE(b.ok);
    EXPECT_EQ(a.baseUrl, "http://h/p/");
    EXPECT_EQ(b.baseUrl, a.baseUrl);
    ASSERT_EQ(b.entries.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(b.entries[i].relPath, a.entries[i].relPath);
        EXPECT_EQ(b.entries[i].size, a.entries[i].size);
        EXPECT_EQ(b.entries[i].sha256, a.entries[i].sha256);
        EXPECT_EQ(b.entries[i].ifMissing, a.entries[i].ifMissing);
    }
    EXPECT_TRUE(b.entries[1].ifMissing);
    EXPECT_EQ(b.entries[1].relPath, "b\\c.pak");
}

TEST(ManifestLines, CarriageReturnInsideAFieldIsDropped) {
    const Parsed p = Parse("da\rta.pak\t1\r2\tab\rcd\n");
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.entries[0].relPath, "data.pak");
    EXPECT_EQ(p.entries[0].size, 12u);
    EXPECT_EQ(p.entries[0].sha256, "abcd");
}

TEST(ManifestLines, CrOnlyFileIsOneLine) {
    // Without LF the whole text is one line: its TABs make it a single odd entry.
    const Parsed p = Parse("BASE\thttp://x/\ra.pak\t5\thash\r");
    ASSERT_TRUE(p.ok);
    ASSERT_EQ(p.entries.size(), 1u);
    EXPECT_EQ(p.entries[0].relPath, "BASE");
    EXPECT_EQ(p.entries[0].size, 0u);  // "http://x/a.pak" has no leading digits
    EXPECT_EQ(p.entries[0].sha256, "5");
    EXPECT_FALSE(p.entries[0].ifMissing);  // fourth field is "hash"
    EXPECT_TRUE(p.baseUrl.empty());
}

TEST(ManifestLines, LastLineWithoutNewlineCountsAndTrailingNewlineAddsNothing) {
    EXPECT_EQ(Parse("a\t1\tx\nb\t2\ty").entries.size(), 2u);
    EXPECT_EQ(Parse("a\t1\tx\n\n\n").entries.size(), 1u);
}

TEST(ManifestLines, CommentsOnlyAtTheVeryFirstByte) {
    const Parsed p = Parse("#a\t1\tx\n #b\t2\ty\n #lonely\n");
    ASSERT_TRUE(p.ok);
    ASSERT_EQ(p.entries.size(), 1u);
    EXPECT_EQ(p.entries[0].relPath, " #b");
}

TEST(ManifestLines, ByteOrderMarkStaysInTheFirstLine) {
    const std::string bom = "\xEF\xBB\xBF";
    // A marked comment is no comment: it becomes an entry.
    const Parsed comment = Parse(bom + "#c\t1\tx\n");
    ASSERT_EQ(comment.entries.size(), 1u);
    EXPECT_EQ(comment.entries[0].relPath, bom + "#c");
    // A marked first file line keeps the mark in its path; a marked BASE is not recognised.
    const Parsed file = Parse(bom + "a.pak\t1\tx\n");
    EXPECT_EQ(file.entries[0].relPath, bom + "a.pak");
    const Parsed base = Parse(bom + "BASE\thttp://x/\na\t1\tx\n");
    EXPECT_TRUE(base.baseUrl.empty());
}

TEST(ManifestKeywords, OnlyOnTwoFieldLines) {
    const Parsed p = Parse("BASE\thttp://one/\nBASE\thttp://two/\tjunk\nVERSION\t3\t4\n");
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.baseUrl, "http://one/");
    ASSERT_EQ(p.entries.size(), 2u);
    EXPECT_EQ(p.entries[0].relPath, "BASE");
    EXPECT_EQ(p.entries[0].sha256, "junk");
    EXPECT_EQ(p.entries[1].relPath, "VERSION");
    EXPECT_EQ(p.entries[1].size, 3u);
    EXPECT_EQ(p.entries[1].sha256, "4");
}

TEST(ManifestKeywords, LastBaseWinsAsWritten) {
    const Parsed p = Parse("BASE\thttp://old/\nBASE\thttp://\xC3\xA1rv\xC3\xADz/\nf\t1\tx\n");
    EXPECT_EQ(p.baseUrl, "http://\xC3\xA1rv\xC3\xADz/");
}

TEST(ManifestKeywords, KeywordsAreCaseAndSpaceSensitive) {
    const Parsed p = Parse("base\thttp://a/\nBASE \thttp://b/\n BASE\thttp://c/\nf\t1\tx\n");
    EXPECT_TRUE(p.baseUrl.empty());
}

TEST(ManifestKeywords, BaseKeepsPreviousValueWhenAbsent) {
    ManifestText text;
    text.baseUrl = "keep";
    EXPECT_TRUE(ReadManifestText("f\t1\tx\n", text));
    EXPECT_EQ(text.baseUrl, "keep");
    EXPECT_FALSE(text.hasBase);
    EXPECT_TRUE(ReadManifestText("BASE\t\n", text));
    EXPECT_EQ(text.baseUrl, "");
    EXPECT_TRUE(text.hasBase);
}

TEST(ManifestResult, FalseWithoutAnyFileEntry) {
    EXPECT_FALSE(Parse("").ok);
    EXPECT_FALSE(Parse("# only a comment\n").ok);
    EXPECT_FALSE(Parse("VERSION\t1\nBASE\thttp://x/\n").ok);
    EXPECT_FALSE(Parse("<html><body>404 Not Found</body></html>\n").ok);
    EXPECT_FALSE(Parse("a.pak,10,abc\na.pak 10 abc\n").ok);
    EXPECT_FALSE(Parse("key\tvalue\n").ok);
}

TEST(ManifestResult, EntriesAreAppendedAndDuplicatesKeptInOrder) {
    ManifestText text;
    text.entries.resize(1);
    text.entries[0].relPath = "existing";
    EXPECT_TRUE(ReadManifestText("dup\t1\tx\nother\t2\ty\ndup\t3\tz\n", text));
    const std::vector<ManifestEntry>& entries = text.entries;
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].relPath, "existing");
    EXPECT_EQ(entries[1].relPath, "dup");
    EXPECT_EQ(entries[1].size, 1u);
    EXPECT_EQ(entries[3].relPath, "dup");
    EXPECT_EQ(entries[3].size, 3u);
}

TEST(ManifestIfMissing, OnlyTheExactFourthField) {
    const Parsed p = Parse(
        "a\t1\tx\tIFMISSING\n"
        "b\t1\tx\tifmissing\n"
        "c\t1\tx\t IFMISSING\n"
        "d\t1\tx\tIFMISSING \n"
        "e\t1\tx\t\tIFMISSING\n"
        "f\t1\tx\t\n"
        "g\t1\tx\tIFMISSING\textra\n"
        "h\t1\tx\tIFMISSING\r\n");
    ASSERT_EQ(p.entries.size(), 8u);
    const bool expected[] = {true, false, false, false, false, false, true, true};
    for (size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(p.entries[i].ifMissing, expected[i]) << p.entries[i].relPath;
    }
}

TEST(ManifestIfMissing, DigestCaseAndTextAreKeptAsWritten) {
    const Parsed p = Parse("a\t1\tABCDEF\n");
    EXPECT_EQ(p.entries[0].sha256, "ABCDEF");
}

TEST(ManifestSize, DigitsSignsAndJunk) {
    struct Case {
        const char* field;
        std::uint64_t value;
    } const cases[] = {
        {"0", 0},
        {"1048576", 1048576},
        {"123abc", 123},
        {"abc", 0},
        {"", 0},
        {"   42", 42},
        {"+7", 7},
        {"-1", kMax},
        {"-0", 0},
        {"-5", kMax - 4},
        {"18446744073709551615", kMax},
        {"18446744073709551616", kMax},
        {"99999999999999999999999", kMax},
        {"-99999999999999999999999", kMax},
        {"+-3", 0},
        {"4 5", 4},
        {" \v\f9", 9},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseManifestSize(c.field), c.value) << '"' << c.field << '"';
    }
}

TEST(ManifestSize, ReachesTheEntryThroughTheParser) {
    const Parsed p = Parse("a\t-1\tx\nb\t18446744073709551616\ty\nc\t 12kb\tz\n");
    ASSERT_EQ(p.entries.size(), 3u);
    EXPECT_EQ(p.entries[0].size, kMax);
    EXPECT_EQ(p.entries[1].size, kMax);
    EXPECT_EQ(p.entries[2].size, 12u);
}

TEST(ManifestPaths, AnyPathFormIsAcceptedVerbatim) {
    // Refusing unsafe paths is the worker's job; the parser keeps what the server wrote.
    const Parsed p = Parse("../evil\t1\tx\nC:\\x\t1\tx\n\t1\tx\ndata/sub\\f.pak\t1\tx\n");
    ASSERT_EQ(p.entries.size(), 4u);
    EXPECT_EQ(p.entries[0].relPath, "../evil");
    EXPECT_EQ(p.entries[1].relPath, "C:\\x");
    EXPECT_EQ(p.entries[2].relPath, "");
    EXPECT_EQ(p.entries[3].relPath, "data/sub\\f.pak");
}

TEST(ManifestWriter, WhatIsWrittenReadsBackUnchanged) {
    const std::vector<ManifestEntry> written = {
        {"velkaro.exe", 70000, std::string(64, 'a'), false},
        {"data\\t\xC3\xA9rk\xC3\xA9p.pak", 0, std::string(64, '0'), false},
        {"config/keys.ini", kMax, "ABC", true},
        {" #not a comment", 12, "d", false},
    };
    const std::string body = FormatManifestText("20261208T080000Z", "http://h/pack/", written);
    EXPECT_EQ(body.substr(0, 45), "VERSION\t20261208T080000Z\nBASE\thttp://h/pack/\n");
    EXPECT_NE(body.find("\nconfig/keys.ini\t18446744073709551615\tABC\tIFMISSING\n"),
              std::string::npos);
    ManifestText text;
    ASSERT_TRUE(ReadManifestText(body, text));
    EXPECT_EQ(text.baseUrl, "http://h/pack/");
    ASSERT_EQ(text.entries.size(), written.size());
    for (size_t i = 0; i < written.size(); ++i) {
        EXPECT_EQ(text.entries[i].relPath, written[i].relPath);
        EXPECT_EQ(text.entries[i].size, written[i].size);
        EXPECT_EQ(text.entries[i].sha256, written[i].sha256);
        EXPECT_EQ(text.entries[i].ifMissing, written[i].ifMissing);
    }
}

// A BLOCKS line may name the SHA-256 of its block index in a fifth field, which launchers that do
// not know it pass over; on any other line a fifth field means nothing. Written back as read.
TEST(ManifestBlocks, FifthFieldNamesTheIndexDigest) {
    const std::string digest(64, 'e');
    const std::string lines = "a.pak\t9\td\tBLOCKS\t" + digest + "\nb.pak\t9\td\tBLOCKS\n";
    ManifestText text;
    ASSERT_TRUE(ReadManifestText(lines + "c.ini\t9\td\tIFMISSING\t" + digest + "\n", text));
    ASSERT_EQ(text.entries.size(), 3u);
    EXPECT_TRUE(text.entries[0].blocks);
    EXPECT_EQ(text.entries[0].blocksSha256, digest);
    EXPECT_TRUE(text.entries[1].blocks);
    EXPECT_EQ(text.entries[1].blocksSha256, "");
    EXPECT_TRUE(text.entries[2].ifMissing);
    EXPECT_FALSE(text.entries[2].blocks);
    EXPECT_EQ(text.entries[2].blocksSha256, "");
    text.entries.pop_back();
    EXPECT_EQ(FormatManifestText("1", "http://h/", text.entries),
              "VERSION\t1\nBASE\thttp://h/\n" + lines);
}

// A line names a compressed copy with the word ZLIB, the copy's size and its SHA-256. Launchers
// that do not know the word read it as a raw file; this one takes the copy only when the line
// obeys every rule, and otherwise reads the line as they do.
TEST(ManifestCompressedCopy, TakenOnlyFromALineThatObeysEveryRule) {
    const std::string digest(64, 'c');
    struct Case {
        std::string fields;  // after "f.pak<TAB>100<TAB>d<TAB>"
        std::uint64_t copySize;
    } const cases[] = {
        {"ZLIB\t60\t" + digest, 60},
        {"ZLIB\t99\t" + digest, 99},
        {"ZLIB\t1\t" + digest + "\tlater\tfields", 1},
        {"ZLIB\t60\t" + digest + "\r", 60},
        {"ZLIB\t100\t" + digest, 0},  // not smaller than the file
        {"ZLIB\t101\t" + digest, 0},
        {"ZLIB\t0\t" + digest, 0},
        {"ZLIB\t060\t" + digest, 0},  // only the form the publisher writes
        {"ZLIB\t+60\t" + digest, 0},
        {"ZLIB\t 60\t" + digest, 0},
        {"ZLIB\t60 \t" + digest, 0},
        {"ZLIB\t-60\t" + digest, 0},
        {"ZLIB\t18446744073709551676\t" + digest, 0},
        {"ZLIB\t60\t" + std::string(64, 'C'), 0},
        {"ZLIB\t60\t" + std::string(63, 'c'), 0},
        {"ZLIB\t60\t" + std::string(63, 'c') + "g", 0},
        {"ZLIB\t60", 0},
        {"zlib\t60\t" + digest, 0},
        {"ZLIB \t60\t" + digest, 0},
        {"BLOCKS\t60\t" + digest, 0},
        {"IFMISSING\t60\t" + digest, 0},
    };
    for (const Case& c : cases) {
        const Parsed p = Parse("f.pak\t100\td\t" + c.fields + "\n");
        ASSERT_EQ(p.entries.size(), 1u) << c.fields;
        const ManifestEntry& e = p.entries[0];
        EXPECT_EQ(e.compressedSize, c.copySize) << c.fields;
        EXPECT_EQ(e.compressedSha256, c.copySize ? digest : "") << c.fields;
        EXPECT_EQ(e.size, 100u);
        EXPECT_EQ(e.sha256, "d");
        if (c.fields.rfind("ZLIB", 0) == 0) {
            EXPECT_FALSE(e.ifMissing || e.blocks) << "a raw file to launchers that do not know it";
        }
    }
}

// The rules as the publisher meets them, on entries a line could not carry.
TEST(ManifestCompressedCopy, PublisherRulesNameTheirFault) {
    ManifestEntry entry{"f.pak", 100, "d", false};
    entry.compressedSize = 60;
    entry.compressedSha256 = std::string(64, '0');
    EXPECT_EQ(CheckCompressedCopy(entry), CopyFault::None);
    entry.blocks = true;
    EXPECT_EQ(CheckCompressedCopy(entry), CopyFault::Flagged);
    entry.blocks = false;
    entry.ifMissing = true;
    EXPECT_EQ(CheckCompressedCopy(entry), CopyFault::Flagged);
    entry.ifMissing = false;
    entry.size = 0;
    EXPECT_EQ(CheckCompressedCopy(entry), CopyFault::NotSmaller);
}

// Lines without a copy are written byte for byte as before; a copy is written after the word and
// reads back unchanged.
TEST(ManifestCompressedCopy, WrittenAfterTheWordAndReadBack) {
    std::vector<ManifestEntry> entries = {{"a.pak", 5000, "x", false}, {"b\\c.pak", 9, "y", true}};
    entries[0].compressedSize = 1234;
    entries[0].compressedSha256 = std::string(64, 'f');
    const std::string body = FormatManifestText("2", "http://h/", entries);
    EXPECT_EQ(body, "VERSION\t2\nBASE\thttp://h/\na.pak\t5000\tx\tZLIB\t1234\t" +
                        std::string(64, 'f') + "\nb\\c.pak\t9\ty\tIFMISSING\n");
    ManifestText text;
    ASSERT_TRUE(ReadManifestText(body, text));
    ASSERT_EQ(text.entries.size(), 2u);
    EXPECT_EQ(text.entries[0].compressedSize, 1234u);
    EXPECT_EQ(text.entries[0].compressedSha256, std::string(64, 'f'));
    EXPECT_EQ(text.entries[1].compressedSize, 0u);
    EXPECT_EQ(CompressedCopyPath("data/a.pak"), "data/a.pak.zlib");
}
