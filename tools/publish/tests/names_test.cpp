#include <gtest/gtest.h>

#include "names.h"
#include "text.h"

using talvora::CaseClashes;

namespace {

// The reason a path is refused, or empty when it is published.
std::string PathRefusal(const std::string& relPath) {
    std::string error;
    return talvora::IsPublishablePath(relPath, error) ? std::string() : error;
}

std::string UrlRefusal(const std::string& url) {
    std::string error;
    return talvora::IsUsableUrl(url, error) ? std::string() : error;
}

}  // namespace

TEST(PathRefusal, RefusesWhatTheLauncherCannotUse) {
    const struct {
        const char* path;
        const char* reasonPart;
    } cases[] = {
        {"", "empty"},
        {"a//b", "empty name"},
        {"data/", "empty name"},
        {"..", "'..'"},
        {"a/../b", "'..'"},
        {"data/..", "'..'"},
        {"./a", "'.'"},
        {"c:/x", "':'"},
        {"data/file:stream", "':'"},
        {"tab\tname", "TAB"},
        {"dir\t/x", "TAB"},
        {"cr\rname", "CR"},
        {"lf\nname", "LF"},
        {"bell\x07", "control"},
        {"back\\slash", "separator"},
        {"a/what?.txt", "'?'"},
        {"star*", "'*'"},
        {"pipe|", "'|'"},
        {"#comment.txt", "'#'"},
        {"100%.txt", "'%'"},
        {"trailing.", "dot or a space"},
        {"dir /x", "dot or a space"},
        {"AUX", "device"},
        {"sub/con.txt", "device"},
        {"Com1.log", "device"},
        {"lpt9", "device"},
        {"CONIN$", "device"},
        {"logs/conout$.log", "device"},
        {"data/COM\xc2\xb3.txt", "device"},
        {"del\x7F", "control"},
    };
    for (const auto& c : cases) {
        const std::string reason = PathRefusal(c.path);
        EXPECT_NE(reason.find(c.reasonPart), std::string::npos)
            << talvora::Printable(c.path) << " gave '" << reason << "'";
    }
}

TEST(PathRefusal, RefusesNamesThatAreNotUtf8) {
    const char* cases[] = {"\xff.bin",     "a/\xc3",           "\xc0\xaf",
                           "\xed\xa0\x80", "\xf4\x90\x80\x80", "\x80x"};
    for (const char* path : cases) {
        EXPECT_EQ(PathRefusal(path), "name is not valid UTF-8") << talvora::Printable(path);
    }
}

TEST(PathRefusal, AcceptsOrdinaryNames) {
    const char* cases[] = {"readme.txt",
                           "data/sub/file.pak",
                           "..hidden",
                           "a..b",
                           ".config/x",
                           "Hungarian \xc5\x91\xc3\xa9.txt",
                           "console.txt",
                           "com10.dat",
                           "lpt",
                           "spaces inside/file (1) - copy.txt",
                           "\xf0\x9f\x8e\xae.png"};
    for (const char* path : cases)
        EXPECT_EQ(PathRefusal(path), "") << path;
}

TEST(CaseClashes, FindsFilesAndFoldersWindowsWouldMerge) {
    EXPECT_TRUE(CaseClashes({"Data/a.pak", "data/b.pak", "DATA/c/d.pak"}).empty());
    EXPECT_TRUE(CaseClashes({"a.txt", "b.txt", "a.txt.bak"}).empty());

    const auto files = CaseClashes({"Data/A.pak", "x", "data/a.PAK"});
    ASSERT_EQ(files.size(), 1u);
    EXPECT_NE(files[0].find("'Data/A.pak'"), std::string::npos);
    EXPECT_NE(files[0].find("'data/a.PAK'"), std::string::npos);

    // Letters beyond ASCII fold as Windows folds them: "Ékszer.pak" and "ékszer.pak".
    EXPECT_EQ(CaseClashes({"\xc3\x89kszer.pak", "\xc3\xa9kszer.pak"}).size(), 1u);
    EXPECT_EQ(CaseClashes({"\xc5\x90/a", "\xc5\x91"}).size(), 1u);

    const auto fileAndFolder = CaseClashes({"Readme", "README/notes.txt"});
    ASSERT_EQ(fileAndFolder.size(), 1u);
    EXPECT_NE(fileAndFolder[0].find("folder 'README'"), std::string::npos);

    // The launcher's staging file of one entry is another entry, or its folder.
    const auto staging = CaseClashes({"foo", "FOO.part"});
    ASSERT_EQ(staging.size(), 1u);
    EXPECT_NE(staging[0].find("downloads 'foo'"), std::string::npos);
    EXPECT_EQ(CaseClashes({"map.pak", "map.pak.part/x"}).size(), 1u);
    EXPECT_TRUE(CaseClashes({"map.pak", "map.part", "map.pak.bak"}).empty());
}

TEST(Text, PrintableKeepsMessagesOnOneLine) {
    EXPECT_EQ(talvora::Printable("a\tb\r\nc"), "a\\tb\\r\\nc");
    EXPECT_EQ(talvora::Printable("\xc5\x91k"), "\xc5\x91k");
    EXPECT_EQ(talvora::Printable("bad\xff\x01"), "bad\\xFF\\x01");
}

TEST(Text, UrlRefusal) {
    EXPECT_EQ(UrlRefusal("http://example.org/pack/"), "");
    EXPECT_EQ(UrlRefusal("HTTPS://example.org:8443/x"), "");
    EXPECT_NE(UrlRefusal(""), "");
    EXPECT_NE(UrlRefusal("ftp://example.org/"), "");
    EXPECT_NE(UrlRefusal("example.org/pack/"), "");
    EXPECT_NE(UrlRefusal("http:///pack/"), "");
    EXPECT_NE(UrlRefusal("http://example.org/\tx"), "");
    EXPECT_NE(UrlRefusal("http://example.org/x\r"), "");
    EXPECT_NE(UrlRefusal("http://example.org/x\x01"), "");
}
