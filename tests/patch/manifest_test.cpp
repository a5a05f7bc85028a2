// The launcher's side of the manifest: the format's bytes, with the download base converted by the
// platform. The format itself is tested natively (tests/portable/patch/manifest_format_test.cpp).
#include <gtest/gtest.h>

#include "patch/manifest.h"

TEST(ParsePatchManifest, LastBaseIsConvertedFromUtf8AndEntriesAreAppended) {
    std::wstring base = L"keep";
    std::vector<ManifestEntry> entries(1);
    EXPECT_TRUE(ParsePatchManifest("f\t1\tx\n", base, entries));
    EXPECT_EQ(base, L"keep");  // no BASE line: the caller's value stays
    EXPECT_TRUE(ParsePatchManifest(
        "BASE\thttp://old/\nBASE\thttp://\xC3\xA1rv\xC3\xADz/\ng\t2\ty\n", base, entries));
    EXPECT_EQ(base, L"http://\u00E1rv\u00EDz/");
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[1].relPath, "f");
    EXPECT_EQ(entries[2].relPath, "g");
    entries.clear();
    EXPECT_FALSE(ParsePatchManifest("BASE\t\n", base, entries));
    EXPECT_EQ(base, L"");
}
