#include <gtest/gtest.h>

#include "patch/install_paths.h"
#include "support/test_files.h"

TEST(InstallPaths, ParentDirectoriesForBothSeparators) {
    TempDir temp;
    CreateParentDirectories(temp / L"a\\b/c\\file.bin");
    EXPECT_TRUE(PathExists(temp / L"a\\b\\c"));
    EXPECT_FALSE(PathExists(temp / L"a\\b\\c\\file.bin"));
    CreateParentDirectories(L"nofolder.bin");              // no separator: nothing to do
    CreateParentDirectories(temp / L"a\\b/c\\again.bin");  // existing folders are fine
    EXPECT_TRUE(PathExists(temp / L"a\\b\\c"));
}
