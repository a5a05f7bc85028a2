// Stands in for the game client or its settings tool in tests and the demo: it records how it
// was started (working directory and command line) in a file beside itself, then exits.
#include <windows.h>
#include <shellapi.h>

#include <string>

#ifndef STUB_NAME
#error STUB_NAME must be defined
#endif

namespace {

std::string ToUtf8(const std::wstring& text) {
    if (text.empty())
        return std::string();
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], size,
                          nullptr, nullptr);
    return out;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int argc = 0;
    if (LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc))
        ::LocalFree(argv);

    wchar_t module[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, module, MAX_PATH);
    std::wstring folder = module;
    folder = folder.substr(0, folder.find_last_of(L"\\/"));

    wchar_t cwd[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, cwd);

    const std::string record = "cwd=" + ToUtf8(cwd) + "\nargc=" + std::to_string(argc) +
                               "\ncommand=" + ToUtf8(::GetCommandLineW()) + "\n";
    const std::wstring path = folder + L"\\" + STUB_NAME + L"-started.txt";
    HANDLE file = ::CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    DWORD written = 0;
    ::WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
    ::CloseHandle(file);
    return 0;
}
