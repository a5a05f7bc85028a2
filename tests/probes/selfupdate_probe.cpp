// A stand-in launcher for the self-update tests: it runs the real start-up sequence (remove the
// ".old" copy, then the self-update) and records that it ran, with its own version number. Built
// with PROBE_SIGNED it trusts the keys made for the tests, as a launcher built with keys does.
#include <windows.h>

#include <string>

#include "platform/exe_location.h"
#include "selfupdate/self_update.h"

#ifdef PROBE_SIGNED
const UpdateKeys& TestUpdateKeys();
#endif

#ifndef PROBE_VERSION
#error PROBE_VERSION must be defined
#endif

namespace {

std::wstring Env(const wchar_t* name) {
    wchar_t buffer[2048] = {};
    const DWORD got = ::GetEnvironmentVariableW(name, buffer, 2048);
    return got > 0 && got < 2048 ? std::wstring(buffer, got) : std::wstring();
}

void AppendRun(const std::wstring& folder) {
    const std::string line = "v" + std::to_string(PROBE_VERSION) + "\n";
    HANDLE file = ::CreateFileW((folder + L"\\probe-runs.txt").c_str(), FILE_APPEND_DATA,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    ::WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    ::CloseHandle(file);
}

}  // namespace

int wmain() {
    // Lets a test look at the ".old" copy that a completed swap leaves behind.
    if (Env(L"TALVORA_PROBE_KEEP_OLD") != L"1")
        RemoveOldLauncherCopy(ExePath());

    std::wstring versionUrl = Env(L"TALVORA_PROBE_VERSION_URL");
    if (versionUrl.empty())
        versionUrl = Env(L"TALVORA_TEST_SERVER") + L"/pack/launcher_version.txt";
#ifdef PROBE_SIGNED
    RunSelfUpdateFrom(versionUrl, PROBE_VERSION, TestUpdateKeys());
#else
    RunSelfUpdateFrom(versionUrl, PROBE_VERSION, UpdateKeys());
#endif

    AppendRun(ExeDirectory());
    return 0;
}
