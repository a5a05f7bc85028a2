#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "portable/net/http_headers.h"

// A length is digits, maybe between blanks, within 64 bits; anything else is no length at all.
TEST(HttpHeaders, ContentLengthIsDigitsWithin64Bits) {
    const struct {
        const char* text;
        bool ok;
        std::uint64_t value;
    } cases[] = {
        {"0", true, 0},
        {"1048576", true, 1048576},
        {" \t42 ", true, 42},
        {"18446744073709551615", true, 18446744073709551615ull},
        {"18446744073709551616", false, 0},
        {"", false, 0},
        {" ", false, 0},
        {"-1", false, 0},
        {"+1", false, 0},
        {"12abc", false, 0},
        {"1 2", false, 0},
        {"0x10", false, 0},
    };
    for (const auto& c : cases) {
        std::uint64_t value = 99;
        EXPECT_EQ(ParseContentLength(c.text, value), c.ok) << c.text;
        EXPECT_EQ(value, c.ok ? c.value : 99u) << c.text;
    }
}

// A range is read exactly, and only when it is sound: not backwards, inside its total.
TEST(HttpHeaders, ContentRangeIsExactAndSound) {
    ContentRange range;
    ASSERT_TRUE(ParseContentRange("bytes 0-65535/1048576", range));
    EXPECT_EQ(range.first, 0u);
    EXPECT_EQ(range.last, 65535u);
    EXPECT_TRUE(range.totalKnown);
    EXPECT_EQ(range.total, 1048576u);
    ASSERT_TRUE(ParseContentRange("bytes 7-7/*", range));
    EXPECT_EQ(range.first, 7u);
    EXPECT_EQ(range.last, 7u);
    EXPECT_FALSE(range.totalKnown);
    ASSERT_TRUE(ParseContentRange("bytes 1048575-1048575/1048576", range));
    for (const char* bad :
         {"bytes 5-4/10", "bytes 0-10/10", "bytes 0-9/", "bytes 0-9", "bytes -9/10", "bytes 0-/10",
          "Bytes 0-9/10", "bytes  0-9/10", "bytes 0-9/10 ", "bytes 0-18446744073709551616/*",
          "bytes 0-9/10x", "items 0-9/10", ""}) {
        EXPECT_FALSE(ParseContentRange(bad, range)) << bad;
    }
}

TEST(HttpHeaders, RangeRequests) {
    EXPECT_EQ(RangeRequestHeader(0, 1), "Range: bytes=0-0");
    EXPECT_EQ(RangeRequestHeader(65536, 65536), "Range: bytes=65536-131071");
    EXPECT_EQ(RangeRequestHeader(1000, 0), "Range: bytes=1000-");
}
