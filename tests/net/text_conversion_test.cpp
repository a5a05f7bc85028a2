#include <gtest/gtest.h>

#include "platform/text_conversion.h"

TEST(Utf8ToWide, ConvertsWithoutLosingAnything) {
    EXPECT_EQ(Utf8ToWide(""), L"");
    EXPECT_EQ(Utf8ToWide("plain"), L"plain");
    // á ő ű: two bytes in, one UTF-16 unit out each.
    const std::wstring accents = Utf8ToWide("\xC3\xA1\xC5\x91\xC5\xB1");
    ASSERT_EQ(accents.size(), 3u);
    EXPECT_EQ(accents, L"\u00E1\u0151\u0171");
    // Outside the basic plane: a surrogate pair.
    EXPECT_EQ(Utf8ToWide("\xF0\x9F\x94\xA5").size(), 2u);
}

TEST(Utf8ToWide, KeepsByteOrderMarkAndEmbeddedZeros) {
    const std::wstring bom = Utf8ToWide("\xEF\xBB\xBFx");
    ASSERT_EQ(bom.size(), 2u);
    EXPECT_EQ(bom[0], L'\uFEFF');
    const std::wstring zeros = Utf8ToWide(std::string("a\0b\0", 4));
    ASSERT_EQ(zeros.size(), 4u);
    EXPECT_EQ(zeros[1], L'\0');
    EXPECT_EQ(zeros[2], L'b');
}

TEST(Utf8ToWide, MalformedBytesBecomeReplacementCharacters) {
    const std::wstring out = Utf8ToWide(
        "ok\xFF\xFE"
        "end");
    EXPECT_EQ(out.substr(0, 2), L"ok");
    EXPECT_EQ(out.substr(out.size() - 3), L"end");
    EXPECT_NE(out.find(L'\uFFFD'), std::wstring::npos);
}

// The way back, as folder names are hashed: what came in as UTF-8 goes out unchanged, and a lone
// surrogate (a name no UTF-8 can spell) still gives one code point instead of nothing.
TEST(WideToUtf8, RoundTripsAndReplacesLoneSurrogates) {
    const std::string text = "Z:\\J\xC3\xA1t\xC3\xA9kok\\\xF0\x9F\x94\xA5";
    EXPECT_EQ(WideToUtf8(Utf8ToWide(text)), text);
    EXPECT_EQ(WideToUtf8(L""), "");
    EXPECT_EQ(WideToUtf8(std::wstring(L"a\xD800") + L"b"),
              "a\xEF\xBF\xBD"
              "b");
}
