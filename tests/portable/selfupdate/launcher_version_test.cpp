// The launcher version file as the self-update reads it and the publisher writes it.
#include <gtest/gtest.h>

#include "portable/selfupdate/launcher_version.h"

namespace {

LauncherVersionInfo Parsed(const std::string& body, bool* valid = nullptr) {
    LauncherVersionInfo info;
    info.version = 99;
    info.sha256 = "stale";
    info.url = "stale";
    info.size = 99;
    const bool ok = ParseLauncherVersion(body, info);
    if (valid)
        *valid = ok;
    return info;
}

bool Valid(const std::string& body) {
    bool ok = false;
    Parsed(body, &ok);
    return ok;
}

const std::string kDigest(64, 'a');

}  // namespace

TEST(LauncherVersionFile, ReadsTheThreeKeys) {
    bool ok = false;
    const auto info = Parsed("VERSION\t2\nSHA256\t" + kDigest + "\nURL\thttp://h/x.exe\n", &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(info.version, 2);
    EXPECT_EQ(info.sha256, kDigest);
    EXPECT_EQ(info.url, "http://h/x.exe");
}

TEST(LauncherVersionFile, LineEndsAndLayout) {
    const auto crlf = Parsed("VERSION\t3\r\nSHA256\tabc\r\r\nURL\thttp://h/x.exe\r\n");
    EXPECT_EQ(crlf.version, 3);
    EXPECT_EQ(crlf.sha256, "abc");
    EXPECT_EQ(crlf.url, "http://h/x.exe");
    // No final line feed, blank lines and tab-less lines in between.
    const auto loose = Parsed("\n\njunk line\nVERSION\t4\n\nURL\tu\nSHA256\td");
    EXPECT_EQ(loose.version, 4);
    EXPECT_EQ(loose.url, "u");
    EXPECT_EQ(loose.sha256, "d");
}

TEST(LauncherVersionFile, KeysAreExactAndLastOneWins) {
    const auto info = Parsed(
        "VERSION \t7\nversion\t8\n VERSION\t9\nVERSION\t2\nVERSION\t5\nURL\ta\nURL\tb\n"
        "SHA256\tx\tmore\ttabs\n");
    EXPECT_EQ(info.version, 5);
    EXPECT_EQ(info.url, "b");
    EXPECT_EQ(info.sha256, "x\tmore\ttabs");  // only the first tab splits
}

TEST(LauncherVersionFile, ByteOrderMarkHidesTheFirstKey) {
    const auto info = Parsed("\xEF\xBB\xBFVERSION\t2\nSHA256\td\nURL\tu\n");
    EXPECT_EQ(info.version, 0);
    EXPECT_FALSE(Valid("\xEF\xBB\xBFVERSION\t2\nSHA256\td\nURL\tu\n"));
}

TEST(LauncherVersionFile, NothingIsTrimmedFromValues) {
    const auto info = Parsed("VERSION\t2\nSHA256\t d \nURL\t u\n");
    EXPECT_EQ(info.sha256, " d ");
    EXPECT_EQ(info.url, " u");
}

TEST(LauncherVersionFile, VersionNumberIsReadLikeStrtol) {
    EXPECT_EQ(ParseVersionNumber(" 2"), 2);
    EXPECT_EQ(ParseVersionNumber("\t\v 12abc"), 12);
    EXPECT_EQ(ParseVersionNumber("+3"), 3);
    EXPECT_EQ(ParseVersionNumber("-4"), -4);
    EXPECT_EQ(ParseVersionNumber("abc"), 0);
    EXPECT_EQ(ParseVersionNumber(""), 0);
    EXPECT_EQ(ParseVersionNumber("- 5"), 0);
    EXPECT_EQ(ParseVersionNumber("99999999999"), 2147483647);
    EXPECT_EQ(ParseVersionNumber("-99999999999"), -2147483647 - 1);
}

TEST(LauncherVersionFile, ValidityNeedsAPositiveVersionADigestAndAUrl) {
    const std::string rest = "SHA256\td\nURL\tu\n";
    EXPECT_TRUE(Valid("VERSION\t1\n" + rest));
    EXPECT_TRUE(Valid("VERSION\t 2\n" + rest));
    EXPECT_FALSE(Valid("VERSION\t0\n" + rest));
    EXPECT_FALSE(Valid("VERSION\t-3\n" + rest));
    EXPECT_FALSE(Valid("VERSION\tnew\n" + rest));
    EXPECT_FALSE(Valid(rest));
    EXPECT_FALSE(Valid("VERSION\t2\nSHA256\td\nURL\t\n"));
    EXPECT_FALSE(Valid("VERSION\t2\nSHA256\t\nURL\tu\n"));
    EXPECT_FALSE(Valid("<html>404</html>"));
    EXPECT_FALSE(Valid(""));
    // Fields are reset first: nothing survives from an earlier parse.
    LauncherVersionInfo info;
    ASSERT_TRUE(ParseLauncherVersion("VERSION\t2\n" + rest, info));
    EXPECT_FALSE(ParseLauncherVersion("VERSION\t3\n", info));
    EXPECT_EQ(info.version, 3);
    EXPECT_TRUE(info.sha256.empty());
    EXPECT_TRUE(info.url.empty());
}

TEST(LauncherVersionFile, WhatIsWrittenReadsBackUnchanged) {
    LauncherVersionInfo written;
    written.version = 2147483647;
    written.sha256 = kDigest;
    written.url =
        "https://cdn.example.invalid/p\xC3\xA1"
        "ck/Talvora.exe?x=1";
    const std::string lines =
        "VERSION\t2147483647\nSHA256\t" + kDigest + "\nURL\t" + written.url + "\n";
    EXPECT_EQ(FormatLauncherVersion(written), lines);  // no size: no SIZE line
    written.size = 4294967296;
    const std::string body = FormatLauncherVersion(written);
    EXPECT_EQ(body, lines + "SIZE\t4294967296\n");
    bool ok = false;
    const auto read = Parsed(body, &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(read.version, written.version);
    EXPECT_EQ(read.sha256, written.sha256);
    EXPECT_EQ(read.url, written.url);
    EXPECT_EQ(read.size, written.size);
}

TEST(LauncherVersionFile, SizeIsOptionalAndNeverMakesTheFileValid) {
    const std::string rest = "SHA256\td\nURL\tu\n";
    EXPECT_EQ(Parsed("VERSION\t2\n" + rest).size, 0u);
    EXPECT_EQ(Parsed("VERSION\t2\nSIZE\t 1048576 bytes\n" + rest).size, 1048576u);
    EXPECT_EQ(Parsed("SIZE\t-5\nVERSION\t2\n" + rest).size, 0u);
    EXPECT_EQ(Parsed("SIZE\tlarge\nVERSION\t2\n" + rest).size, 0u);
    EXPECT_EQ(Parsed("SIZE\t99999999999999999999999\n").size, ~std::uint64_t{0});
    EXPECT_EQ(Parsed("SIZE\t7\nSIZE\t8\n").size, 8u);  // the last line wins, as for every key
    EXPECT_FALSE(Valid("SIZE\t10\n" + rest));
}

TEST(LauncherVersionFile, UnknownKeysAreIgnored) {
    bool ok = false;
    const auto info =
        Parsed("NOTES\tsee below\nVERSION\t3\nSIGNED\tyes\tno\nSHA256\td\nURL\tu\nX\t\n", &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(info.version, 3);
    EXPECT_EQ(info.sha256, "d");
}
