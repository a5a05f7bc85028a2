// The entry point of every Windows test program. Its output is unbuffered, so a process that dies
// keeps what it printed; and it marks that it started, so the harness (wine-run) can tell a test
// that failed from a process that Wine never got running.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>

#include "platform/kernel_handles.h"

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    wchar_t marker[MAX_PATH] = {};
    const DWORD length = ::GetEnvironmentVariableW(L"TALVORA_TEST_STARTED", marker, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        UniqueFile started(::CreateFileW(marker, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
