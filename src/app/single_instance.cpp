#include "app/single_instance.h"

#include <chrono>
#include <cstdint>

#include "app/window_proc.h"
#include "portable/patch/case_fold.h"
#include "patch/install_paths.h"

namespace {

constexpr DWORD kPollMs = 200;

std::uint64_t Fnv1a(const std::string& bytes) {
    std::uint64_t hash = 14695981039346656037ull;
    for (char c : bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    return hash;
}

std::string ToUtf8(const std::wstring& text) {
    const int size = static_cast<int>(text.size());
    const int needed =
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(needed > 0 ? needed : 0), '\0');
    if (needed > 0) {
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, &bytes[0], needed, nullptr, nullptr);
    }
    return bytes;
}

std::uint64_t FolderHash(const std::wstring& folder) {
    const std::wstring finalPath = FinalPathOf(folder);
    if (finalPath.empty())
        return 0;
    // Folded as file names are compared, so that every spelling gives one name.
    return Fnv1a(FoldCaseUtf8(ToUtf8(finalPath))) | 1;  // 0 stays "unknown"
}

// The folder of the program behind `window`.
std::wstring FolderOfWindowProcess(HWND window) {
    DWORD processId = 0;
    ::GetWindowThreadProcessId(window, &processId);
    UniqueKernelHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    if (!process)
        return std::wstring();
    std::wstring image(32768, L'\0');
    DWORD length = static_cast<DWORD>(image.size());
    if (!::QueryFullProcessImageNameW(process.get(), 0, &image[0], &length))
        return std::wstring();
    image.resize(length);
    const size_t last = image.find_last_of(L"\\/");
    return last == std::wstring::npos ? std::wstring() : image.substr(0, last);
}

struct WindowSearch {
    std::uint64_t folderHash;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM param) {
    WindowSearch& search = *reinterpret_cast<WindowSearch*>(param);
    // A window being destroyed is hidden first: its launcher is ending, and handing over to it
    // would leave the player with no launcher at all.
    if (!::IsWindowVisible(window))
        return TRUE;
    wchar_t className[64] = {};
    if (::GetClassNameW(window, className, 64) == 0 || ::lstrcmpW(className, kMainWindowClass) != 0)
        return TRUE;
    const std::wstring folder = FolderOfWindowProcess(window);
    if (folder.empty() || FolderHash(folder) != search.folderHash)
        return TRUE;
    search.found = window;
    return FALSE;
}

bool BringOtherToFront(std::uint64_t folderHash) {
    WindowSearch search = {folderHash, nullptr};
    ::EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
    if (search.found == nullptr)
        return false;
    if (::IsIconic(search.found))
        ::ShowWindow(search.found, SW_RESTORE);
    ::SetForegroundWindow(search.found);
    return true;
}

}  // namespace

std::wstring InstanceKeyOf(const std::wstring& folder) {
    const std::uint64_t hash = FolderHash(folder);
    if (hash == 0)
        return std::wstring();
    wchar_t text[17] = {};
    for (int i = 0; i < 16; ++i)
        text[i] = L"0123456789abcdef"[(hash >> (60 - 4 * i)) & 0xF];
    return L"TalvoraLauncher-" + std::wstring(text);
}

bool ClaimInstallFolder(const std::wstring& folder, HeldMutex& guard, DWORD waitMs) {
    const std::uint64_t folderHash = FolderHash(folder);
    if (folderHash == 0)
        return true;
    const std::wstring key = InstanceKeyOf(folder);
    // Global: one folder, one launcher, whoever is logged on. Without the right to make global
    // names, the session's own namespace still keeps apart what this user starts.
    HANDLE mutex = ::CreateMutexW(nullptr, FALSE, (L"Global\\" + key).c_str());
    if (mutex == nullptr)
        mutex = ::CreateMutexW(nullptr, FALSE, (L"Local\\" + key).c_str());
    if (mutex == nullptr)
        return true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    DWORD wait = 0;
    for (;;) {
        const DWORD result = ::WaitForSingleObject(mutex, wait);
        // Abandoned: the other launcher ended without letting go; the folder is ours now.
        if (result == WAIT_OBJECT_0 || result == WAIT_ABANDONED) {
            guard.reset(mutex);
            return true;
        }
        if (result != WAIT_TIMEOUT || BringOtherToFront(folderHash) ||
            std::chrono::steady_clock::now() > deadline) {
            ::CloseHandle(mutex);
            return false;
        }
        wait = kPollMs;
    }
}
