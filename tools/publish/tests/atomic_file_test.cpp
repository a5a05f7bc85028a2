#include <gtest/gtest.h>

#include "atomic_file.h"
#include "test_support.h"

namespace fs = std::filesystem;
using talvora::WriteFileAtomically;
using namespace talvora_test;

TEST(WriteFileAtomically, CreatesAndReplacesLeavingNoTemporaryFile) {
    ScratchDir dir;
    std::string error;
    ASSERT_TRUE(WriteFileAtomically(dir / "f.txt", "first\n", error)) << error;
    EXPECT_EQ(ReadFile(dir / "f.txt"), "first\n");
    ASSERT_TRUE(WriteFileAtomically(dir / "f.txt", "second", error)) << error;
    EXPECT_EQ(ReadFile(dir / "f.txt"), "second");
    ASSERT_TRUE(WriteFileAtomically(dir / "f.txt", "", error)) << error;
    EXPECT_EQ(ReadFile(dir / "f.txt"), "");
    EXPECT_EQ(ListNames(dir.path()), std::vector<std::string>{"f.txt"});
}

TEST(WriteFileAtomically, MissingFolderFailsWithoutCreatingIt) {
    ScratchDir dir;
    std::string error;
    EXPECT_FALSE(WriteFileAtomically(dir / "no" / "f.txt", "x", error));
    EXPECT_NE(error.find("does not exist"), std::string::npos) << error;
    EXPECT_TRUE(ListNames(dir.path()).empty());
}

TEST(WriteFileAtomically, FailedRenameRemovesTheTemporaryFile) {
    // Renaming a file over a folder fails after the temporary file was written.
    ScratchDir dir;
    WriteFile(dir / "target" / "keep.txt", "kept");
    std::string error;
    EXPECT_FALSE(WriteFileAtomically(dir / "target", "x", error));
    EXPECT_NE(error.find("rename"), std::string::npos) << error;
    EXPECT_EQ(ListNames(dir.path()), std::vector<std::string>{"target"});
    EXPECT_EQ(ReadFile(dir / "target" / "keep.txt"), "kept");
}
