// Digests, decimal numbers and UTF-8 as the server's text files carry them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "portable/net/decimal.h"
#include "portable/net/hex_digest.h"
#include "portable/net/utf8.h"
#include "portable/patch/manifest_format.h"
#include "portable/selfupdate/launcher_version.h"

TEST(HexDigest, LowerCaseTwoDigitsPerByte) {
    const unsigned char bytes[] = {0x00, 0x0F, 0xA5, 0xFF};
    EXPECT_EQ(HexDigest(bytes, sizeof bytes), "000fa5ff");
    EXPECT_EQ(HexDigest(bytes, 0), "");
    for (int value = 0; value < 256; ++value) {
        const auto byte = static_cast<unsigned char>(value);
        char expected[3];
        std::snprintf(expected, sizeof expected, "%02x", value);
        char out[3] = {'?', '?', '?'};
        HexDigestTo(&byte, 1, out);
        EXPECT_EQ(std::string(out, 3), std::string(expected, 2) + '?') << value;
    }
}

TEST(Decimal, SignAndOverflowAreReported) {
    DecimalRead read = ReadDecimal(" -12x");
    EXPECT_TRUE(read.negative && !read.overflow);
    EXPECT_EQ(read.magnitude, 12u);
    read = ReadDecimal("18446744073709551616");
    EXPECT_TRUE(read.overflow);
    EXPECT_EQ(read.magnitude, ~std::uint64_t{0});
    read = ReadDecimal("18446744073709551615");  // the largest value is no overflow
    EXPECT_FALSE(read.overflow);
    EXPECT_EQ(read.magnitude, ~std::uint64_t{0});
}

// Sizes read as strtoull reads them and version numbers as strtoll does (kept to 32 bits), for
// numbers around every limit and for any mix of blanks, signs, digits and other bytes.
TEST(Decimal, ReadsWhatTheCLibraryReads) {
    std::vector<std::string> texts = {"18446744073709551615",
                                      "18446744073709551616",
                                      "-18446744073709551615",
                                      "-18446744073709551616",
                                      "1844674407370955161",
                                      "18446744073709551619",
                                      "184467440737095516150",
                                      "0000000000000000000000018446744073709551615",
                                      "2147483647",
                                      "2147483648",
                                      "-2147483648",
                                      "-2147483649",
                                      "4294967295",
                                      "4294967296",
                                      "-9223372036854775808"};
    std::mt19937 random(64);
    const std::string alphabet = " \t\n\v\f\r+-x0123456789";
    for (int i = 0; i < 20000; ++i) {
        std::string text;
        const std::size_t length = random() % 24;
        for (std::size_t k = 0; k < length; ++k)
            text += alphabet[random() % (i % 2 == 0 ? alphabet.size() : 9)];
        if (i % 2 == 1) {  // blanks and a sign, then many digits
            for (std::size_t k = 0, digits = 17 + random() % 5; k < digits; ++k)
                text += static_cast<char>('0' + random() % 10);
        }
        texts.push_back(text);
    }
    for (const std::string& text : texts) {
        EXPECT_EQ(ParseManifestSize(text), std::strtoull(text.c_str(), nullptr, 10)) << text;
        const long long wide = std::strtoll(text.c_str(), nullptr, 10);
        const long long narrow = std::max<long long>(
            std::numeric_limits<std::int32_t>::min(),
            std::min<long long>(std::numeric_limits<std::int32_t>::max(), wide));
        EXPECT_EQ(ParseVersionNumber(text), narrow) << text;
    }
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
         {"\xff.bin", "a/\xc3", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\x80x", "\xc1\xbf",
          "\xe0\x80\xaf", "\xe0\x9f\xbf", "\xf0\x80\x80\xaf", "\xf0\x8f\xbf\xbf", "\xed\xbf\xbf",
          "\xf5\x80\x80\x80", "\xe2\x82", "\xe2\x28\xa1", "\xf0\x9f\x8e"}) {
        EXPECT_FALSE(IsValidUtf8(bad)) << bad;
        // The first byte past ASCII reads as one replacement character.
        const std::string bytes = bad;
        std::size_t pos = 0;
        while (static_cast<unsigned char>(bytes[pos]) < 0x80)
            ++pos;
        const std::size_t at = pos;
        EXPECT_EQ(NextCodePoint(bytes, pos), U'\uFFFD') << bad;
        EXPECT_EQ(pos, at + 1) << bad;
    }
}

// Every code point but the surrogates is written in its shortest form and read back.
TEST(Utf8, EveryCodePointRoundTrips) {
    for (char32_t c = 0; c <= 0x10FFFF; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF)
            continue;
        std::string text;
        AppendUtf8(text, c);
        ASSERT_EQ(text.size(), c < 0x80 ? 1u : c < 0x800 ? 2u : c < 0x10000 ? 3u : 4u) << c;
        std::size_t pos = 0;
        ASSERT_EQ(NextCodePoint(text, pos), c);
        ASSERT_EQ(pos, text.size()) << c;
        ASSERT_TRUE(IsValidUtf8(text)) << c;
    }
}
