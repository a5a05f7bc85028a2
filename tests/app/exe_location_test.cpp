#include <gtest/gtest.h>

#include <windows.h>

#include "app/exe_location.h"
#include "app/startup.h"
#include "support/test_files.h"

TEST(DirectoryOfPath, CutsAtTheLastSeparatorOfEitherKind) {
    EXPECT_EQ(DirectoryOfPath(L"C:\\Games\\Launcher\\launcher.exe"), L"C:\\Games\\Launcher");
    EXPECT_EQ(DirectoryOfPath(L"C:\\Games/Launcher/launcher.exe"), L"C:\\Games/Launcher");
    EXPECT_EQ(DirectoryOfPath(L"C:/Games\\launcher.exe"), L"C:/Games");
    EXPECT_EQ(DirectoryOfPath(L"launcher.exe"), L".");
    EXPECT_EQ(DirectoryOfPath(L""), L".");
    EXPECT_EQ(DirectoryOfPath(L"C:\\launcher.exe"), L"C:");
    EXPECT_EQ(DirectoryOfPath(L"\\\\server\\share\\x.exe"), L"\\\\server\\share");
}

TEST(ExeLocation, NamesTheRunningTestProgram) {
    const std::wstring path = ExePath();
    ASSERT_FALSE(path.empty());
    EXPECT_NE(::GetFileAttributesW(path.c_str()), INVALID_FILE_ATTRIBUTES);
    const std::wstring dir = ExeDirectory();
    EXPECT_EQ(path.compare(0, dir.size(), dir), 0);
    ASSERT_GT(path.size(), dir.size() + 1);
    EXPECT_TRUE(path[dir.size()] == L'\\' || path[dir.size()] == L'/');
    const std::wstring name = path.substr(dir.size() + 1);
    EXPECT_EQ(name.find_first_of(L"\\/"), std::wstring::npos);
    EXPECT_EQ(name, L"foundation_tests.exe");
    const DWORD attributes = ::GetFileAttributesW(dir.c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The copy a self-update left behind goes at the next start, and only that copy: without a known
// path the name would be ".old" in whatever folder the launcher was started from.
TEST(LeftoverLauncher, DeletedBesideTheExecutableNeverInTheCurrentFolder) {
    TempDir dir;
    ASSERT_TRUE(WriteFileBytes(dir / L"Talvora.exe.old", "previous launcher"));
    ASSERT_TRUE(WriteFileBytes(dir / L".old", "a player's file"));
    wchar_t previous[MAX_PATH] = {};
    ASSERT_GT(::GetCurrentDirectoryW(MAX_PATH, previous), 0u);
    ASSERT_TRUE(::SetCurrentDirectoryW(dir.path().c_str()));

    DeleteLeftoverLauncher(L"");
    const bool keptInCurrentFolder = PathExists(dir / L".old");
    DeleteLeftoverLauncher(dir / L"Talvora.exe");
    ::SetCurrentDirectoryW(previous);

    EXPECT_TRUE(keptInCurrentFolder);
    EXPECT_FALSE(PathExists(dir / L"Talvora.exe.old"));
    EXPECT_TRUE(PathExists(dir / L".old"));
}
