#include <gtest/gtest.h>

#include "glob.h"

TEST(GlobMatch, Cases) {
    const struct {
        const char* pattern;
        const char* path;
        bool match;
    } cases[] = {
        // Literal text, whole path only, case-sensitive.
        {"config.cfg", "config.cfg", true},
        {"config.cfg", "sub/config.cfg", false},
        {"config.cfg", "config.cfg.bak", false},
        {"Config.cfg", "config.cfg", false},
        // '*' stays within one name.
        {"*.cfg", "user.cfg", true},
        {"*.cfg", "cfg/user.cfg", false},
        {"config/*", "config/a.ini", true},
        {"config/*", "config/sub/a.ini", false},
        {"*", "", true},
        {"a*b*c", "aXbYbZc", true},
        {"a*b*c", "aXbYcZ", false},
        // '?' is one character, never '/', and a whole UTF-8 character.
        {"file?.txt", "file1.txt", true},
        {"file?.txt", "file.txt", false},
        {"file?.txt", "file12.txt", false},
        {"a?b", "a/b", false},
        {"?.txt", "\xc5\x91.txt", true},
        // '**' crosses folders; '**/' also stands for no folder at all.
        {"**", "a/b/c.txt", true},
        {"data/**", "data/x/y/z.pak", true},
        {"data/**", "database/x", false},
        {"**/*.cfg", "user.cfg", true},
        {"**/*.cfg", "a/b/user.cfg", true},
        {"**/*.cfg", "a/b/user.ini", false},
        {"save/**/slot?.dat", "save/slot1.dat", true},
        {"save/**/slot?.dat", "save/x/y/slot2.dat", true},
        {"save/**/slot?.dat", "saves/slot1.dat", false},
        {"**.log", "logs/today.log", true},
        {"***/x", "a/x", true},
        // '\' in a pattern is a separator, as operators on Windows type it.
        {"config\\*.cfg", "config/user.cfg", true},
        {"**\\user.cfg", "a/user.cfg", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(talvora::GlobMatch(c.pattern, c.path), c.match)
            << "pattern '" << c.pattern << "' path '" << c.path << "'";
    }
}

TEST(GlobMatch, ManyStarsStayFast) {
    const std::string path(200, 'a');
    EXPECT_FALSE(talvora::GlobMatch("*a*a*a*a*a*a*a*a*a*a*a*a*b", path));
    EXPECT_FALSE(talvora::GlobMatch("**a**a**a**a**a**a**a**a**b", path));
}
