// Which manifest paths may be joined to the installation folder, and which name one file there.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "portable/patch/case_fold.h"
#include "portable/patch/relative_path.h"

TEST(RelativePath, RefusedOnlyWhatLeavesNamesADeviceOrAStreamOrHoldsControls) {
    for (const char* bad : {"",
                            "/",
                            ".",
                            "data\\..",
                            "\\\\?\\C:\\x",
                            "C:\\x",
                            "C:x",
                            "data.pak:stream",
                            "CON:",
                            "..",
                            "..\\evil.dll",
                            "../evil.dll",
                            "/../evil.dll",
                            "data/../../evil.dll",
                            "a/b/../../../c",
                            "a\\...\\b",
                            "a\\.. \\b",
                            "a/. /b",
                            "bad\tname",
                            "nul\x01",
                            "NUL",
                            "nul.txt",
                            "data\\con",
                            "data/LPT1.pak",
                            "Com9.x.y",
                            "aux .pak",
                            "prn.",
                            "CONOUT$",
                            "sound\\conin$.wav"}) {
        EXPECT_FALSE(IsSafeRelativePath(bad)) << bad;
        EXPECT_EQ(LexicalRelativePath(bad), "") << bad;
    }
    EXPECT_FALSE(IsSafeRelativePath(std::string("a\0b", 3)));
    for (const char* good :
         {"velkaro.exe", "data\\map.pak", "data/map.pak", "./x.ini", "a..b\\c", "..name", "name..",
          ".hidden", "t\xC3\xA9rk\xC3\xA9p\\\xC5\x91.pak", "console.dat", "nullx.pak", "com10.pak",
          "lpt.pak", "data\\auxiliary\\x", "com\\1.pak", "/data/x.pak", "\\\\server\\share\\x",
          "a/../b.pak", "a\\b\\..\\..\\c"}) {
        EXPECT_TRUE(IsSafeRelativePath(good)) << good;
    }
}

TEST(RelativePath, LexicalFormIsWhereTheFileLies) {
    EXPECT_EQ(LexicalRelativePath("/data/x.pak"), "data\\x.pak");
    EXPECT_EQ(LexicalRelativePath("a/../b.pak"), "b.pak");
    EXPECT_EQ(LexicalRelativePath("\\\\srv\\.\\s//x\\"), "srv\\s\\x");
    EXPECT_EQ(LexicalRelativePath("a/b/../../c/./d"), "c\\d");
    EXPECT_EQ(LexicalRelativePath("t\xC3\xA9rk\xC3\xA9p/\xFF.pak"),
              "t\xC3\xA9rk\xC3\xA9p\\\xFF.pak");
}

// Every device name, in either case, alone, in a folder, with an extension or trailing spaces
// before it; names that only resemble one are files.
TEST(RelativePath, DeviceNamesInAnyFolderAndWithAnyExtension) {
    std::vector<std::string> devices = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* port : {"COM", "LPT"}) {
        for (char digit = '0'; digit <= '9'; ++digit)
            devices.push_back(port + std::string(1, digit));
        // Windows reads the Latin-1 superscripts 1, 2 and 3 as digits too.
        for (const char* superscript : {"\xC2\xB9", "\xC2\xB2", "\xC2\xB3"})
            devices.push_back(port + std::string(superscript));
    }
    for (const std::string& device : devices) {
        std::string lower = device;
        for (char& c : lower)
            c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        for (const std::string& path :
             {device, lower, device + ".pak", lower + ".x.y", "data/" + device, "a\\b\\" + lower,
              device + "  .txt", device + ".", "data/" + device + " /x"}) {
            EXPECT_EQ(CheckRelativePath(path), PathFault::Device) << path;
        }
        for (const std::string& path : {device + "0", device + "x.pak", "x" + lower, device + "_"})
            EXPECT_EQ(CheckRelativePath(path), PathFault::None) << path;
    }
    for (const char* bad :
         {"COM\xC2\xB9", "LPT\xC2\xB2.pak", "data\\COM\xC2\xB3.txt", "lpt\xC2\xB9 .x"})
        EXPECT_EQ(CheckRelativePath(bad), PathFault::Device) << bad;
    // Only the Latin-1 superscripts, and only one digit.
    for (const char* good : {"COM\xE2\x81\xB4.pak", "COM\xC2\xBD", "COM\xC2\xB9\xC2\xB9", "COM\xC2",
                             "COM", "LPT", "CONIN", "CON$", "COM-1", "NUL$", "C0M1", "COM\xC2\xB0"})
        EXPECT_EQ(CheckRelativePath(good), PathFault::None) << good;
}

TEST(RelativePath, EachFaultIsNamed) {
    EXPECT_EQ(CheckRelativePath(""), PathFault::Empty);
    EXPECT_EQ(CheckRelativePath("a/.."), PathFault::Empty);
    EXPECT_EQ(CheckRelativePath("a/../../b"), PathFault::Escapes);
    EXPECT_EQ(CheckRelativePath("a/b:c"), PathFault::Stream);
    EXPECT_EQ(CheckRelativePath("a\x7F"
                                "b\x01"),
              PathFault::Control);
    for (int c = 1; c < 0x20; ++c)
        EXPECT_EQ(CheckRelativePath("a/b" + std::string(1, static_cast<char>(c)) + "c"),
                  PathFault::Control)
            << c;
    EXPECT_EQ(CheckRelativePath("a/.../b"), PathFault::DotsSegment);
    EXPECT_EQ(CheckRelativePath("a/Con.txt"), PathFault::Device);
    // Bytes that are not UTF-8 are the platform's business: they become U+FFFD in the file name.
    EXPECT_EQ(CheckRelativePath("a\xFF\xC3/b"), PathFault::None);
    EXPECT_STREQ(PathFaultText(PathFault::None), "");
    EXPECT_STRNE(PathFaultText(PathFault::Device), "");
}

TEST(CaseFold, SimpleFoldingBeyondAscii) {
    EXPECT_EQ(FoldCase(U'A'), U'a');
    EXPECT_EQ(FoldCase(U'a'), U'a');
    EXPECT_EQ(FoldCase(U'\u00C9'), U'\u00E9');  // É
    EXPECT_EQ(FoldCase(U'\u0150'), U'\u0151');  // Ő, one of a run of every second code point
    EXPECT_EQ(FoldCase(U'\u0151'), U'\u0151');
    EXPECT_EQ(FoldCase(U'\u00DF'), U'\u00DF');          // ß has only a full folding (ss)
    EXPECT_EQ(FoldCase(U'\u1E9E'), U'\u00DF');          // capital sharp s
    EXPECT_EQ(FoldCase(U'\u212A'), U'k');               // Kelvin sign
    EXPECT_EQ(FoldCase(U'\u03A3'), U'\u03C3');          // Σ
    EXPECT_EQ(FoldCase(U'\u03C2'), U'\u03C3');          // final ς
    EXPECT_EQ(FoldCase(U'\u0130'), U'\u0130');          // İ: Turkic folding only
    EXPECT_EQ(FoldCase(U'\U00010400'), U'\U00010428');  // Deseret, beyond 16 bits
    EXPECT_EQ(FoldCase(U'\U0001E900'), U'\U0001E922');  // Adlam, the table's last runs
    EXPECT_EQ(FoldCase(U'\U0010FFFF'), U'\U0010FFFF');
    EXPECT_EQ(FoldCaseUtf8("\xC3\x89kszer.PAK"), "\xC3\xA9kszer.pak");
    EXPECT_EQ(FoldCaseUtf8("a\xFF"
                           "b"),
              "a\xEF\xBF\xBD"
              "b");
}

TEST(CollisionKey, EqualExactlyForNamesWindowsMerges) {
    const std::string e = CollisionKey("\xC3\xA9kszer.pak");
    EXPECT_EQ(CollisionKey("\xC3\x89kszer.pak"), e);  // Ékszer.pak
    EXPECT_EQ(CollisionKey("\xC3\x89KSZER.PAK"), e);
    EXPECT_EQ(CollisionKey("Data\\A.pak"), CollisionKey("data/a.PAK"));
    EXPECT_EQ(CollisionKey("a.pak. "), CollisionKey("A.PAK"));  // Windows drops the tail
    EXPECT_EQ(CollisionKey("./x//y"), CollisionKey("x/y"));
    EXPECT_EQ(CollisionKey("a/../b"), CollisionKey("b"));
    EXPECT_EQ(CollisionKey("\xE2\x84\xAA.dat"), CollisionKey("k.dat"));  // Kelvin sign
    EXPECT_NE(CollisionKey("foo"), CollisionKey("foo.part"));
    EXPECT_NE(CollisionKey("a/b"), CollisionKey("ab"));
    EXPECT_NE(CollisionKey("\xC3\x9F"), CollisionKey("ss"));  // simple folding only, as NTFS
    EXPECT_NE(CollisionKey("../b"), CollisionKey("b"));
}
