#include <gtest/gtest.h>

#include <windows.h>

#include "platform/exe_location.h"

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
