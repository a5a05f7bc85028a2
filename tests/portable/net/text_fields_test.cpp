// Digests, decimal numbers and UTF-8 as the server's text files carry them.
#include <gtest/gtest.h>

#include "portable/net/decimal.h"
#include "portable/net/hex_digest.h"
#include "portable/net/utf8.h"

TEST(HexDigest, LowerCaseTwoDigitsPerByte) {
    const unsigned char bytes[] = {0x00, 0x0F, 0xA5, 0xFF};
    EXPECT_EQ(HexDigest(bytes, sizeof bytes), "000fa5ff");
    EXPECT_EQ(HexDigest(bytes, 0), "");
}

TEST(Decimal, SignAndOverflowAreReported) {
    DecimalRead read = ReadDecimal(" -12x");
    EXPECT_TRUE(read.negative && !read.overflow);
    EXPECT_EQ(read.magnitude, 12u);
    read = ReadDecimal("18446744073709551616");
    EXPECT_TRUE(read.overflow);
    EXPECT_EQ(read.magnitude, ~std::uint64_t{0});
}

TEST(Utf8, MalformedBytesReadAsReplacementOneAtATime) {
    const std::string text = "a\xC5\x91\xF0\x9F\x8E\xAE\xFF\xC3";
    std::u32string read;
    for (std::size_t pos = 0; pos < text.size();)
        read.push_back(NextCodePoint(text, pos));
    EXPECT_EQ(read, U"a\u0151\U0001F3AE\uFFFD\uFFFD");
    std::string written;
    for (const char32_t c : read.substr(0, 3))
        AppendUtf8(written, c);
    EXPECT_EQ(written, text.substr(0, 7));
    EXPECT_TRUE(IsValidUtf8(written));
    for (const char* bad :
         {"\xff.bin", "a/\xc3", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\x80x"}) {
        EXPECT_FALSE(IsValidUtf8(bad)) << bad;
    }
}
