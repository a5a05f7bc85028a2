#include <gtest/gtest.h>

#include <windows.h>

#include <thread>

#include "app/single_instance.h"
#include "support/test_files.h"

// Every spelling of one folder, a link to it included, shares one guard; another folder has its
// own.
TEST(SingleInstance, OneKeyPerFolderWhateverItsSpelling) {
    TempDir temp;
    const std::wstring folder = temp / L"Install";
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW((temp / L"other").c_str(), nullptr));
    const std::wstring key = InstanceKeyOf(folder);
    ASSERT_FALSE(key.empty());
    EXPECT_EQ(InstanceKeyOf(temp / L"INSTALL"), key);
    EXPECT_EQ(InstanceKeyOf(folder + L"\\"), key);
    EXPECT_EQ(InstanceKeyOf(folder + L"\\..\\install"), key);
    EXPECT_NE(InstanceKeyOf(temp / L"other"), key);
    EXPECT_TRUE(InstanceKeyOf(temp / L"missing").empty());
    if (MakeSymlink(temp / L"alias", folder)) {
        EXPECT_EQ(InstanceKeyOf(temp / L"alias"), key);
    }

    // A second claim on a held folder gives way; once the first lets go, the folder is free.
    HeldMutex first;
    ASSERT_TRUE(ClaimInstallFolder(folder, first));
    ASSERT_TRUE(first.valid());
    std::thread([&] {
        HeldMutex second;
        EXPECT_FALSE(ClaimInstallFolder(temp / L"INSTALL", second, 300));
        EXPECT_FALSE(second.valid());
        HeldMutex elsewhere;
        EXPECT_TRUE(ClaimInstallFolder(temp / L"other", elsewhere));
    }).join();
    first.reset();
    std::thread([&] {
        HeldMutex again;
        EXPECT_TRUE(ClaimInstallFolder(folder, again));
    }).join();
}
