#include "app/single_instance.h"

#include <sddl.h>

#include <chrono>
#include <cstdint>

#include "app/shutdown.h"
#include "app/window_proc.h"
#include "platform/text_conversion.h"
#include "patch/install_paths.h"
#include "portable/patch/case_fold.h"
#include "selfupdate/self_update.h"

const DWORD kStartingHolderWaitMs =
    static_cast<DWORD>(std::chrono::milliseconds(kSelfUpdateDeadline).count()) + 2 * kExitBoundMs;

namespace {

constexpr DWORD kPollMs = 200;

using UniqueBoundaryDescriptor = UniqueHandle<ReleasedBy<HANDLE, ::DeleteBoundaryDescriptor>>;
using UniqueLocalSecurityDescriptor = UniqueHandle<ReleasedBy<PSECURITY_DESCRIPTOR, ::LocalFree>>;

std::uint64_t Fnv1a(const std::string& bytes) {
    std::uint64_t hash = 14695981039346656037ull;
    for (char c : bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    return hash;
}

std::uint64_t FolderHash(const std::wstring& folder) {
    const std::wstring finalPath = FinalPathOf(folder);
    if (finalPath.empty())
        return 0;
    // Folded as file names are compared, so that every spelling gives one name.
    return Fnv1a(FoldCaseUtf8(WideToUtf8(finalPath))) | 1;  // 0 stays "unknown"
}

std::wstring KeyOfHash(std::uint64_t hash) {
    wchar_t text[17] = {};
    for (int i = 0; i < 16; ++i)
        text[i] = L"0123456789abcdef"[(hash >> (60 - 4 * i)) & 0xF];
    return L"TalvoraLauncher-" + std::wstring(text);
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

// The folder's lock, built once per claim and tried until it is taken. The namespace itself is
// the lock, not a mutex inside it: once its maker's handle is closed a private namespace can no
// longer be opened, and the next maker gets a new one, so a mutex in a namespace opened from
// someone else would not keep the next launcher out.
struct FolderLock {
    std::wstring key;
    UniqueBoundaryDescriptor boundary;
    UniqueLocalSecurityDescriptor access;
    UniqueKernelHandle mutex;
};

enum class Attempt { Done, Busy, NoLock };

// A boundary of the Administrators group: only a token holding that group can make the
// namespace, so no other user can make it first. It grants access to no one else either.
bool PrepareNamespace(FolderLock& lock) {
    BYTE admins[SECURITY_MAX_SID_SIZE] = {};
    DWORD size = sizeof admins;
    if (!::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &size))
        return false;
    lock.boundary.reset(::CreateBoundaryDescriptorW(L"Talvora", 0));
    // Wine 8 has only stubs here: the descriptor comes back null, and calling
    // AddSIDToBoundaryDescriptor would end the process.
    if (!lock.boundary)
        return false;
    // The descriptor may move as it grows: the owner takes whatever comes back.
    HANDLE boundary = lock.boundary.release();
    const BOOL added = ::AddSIDToBoundaryDescriptor(&boundary, admins);
    lock.boundary.reset(boundary);
    return added &&
           ::ConvertStringSecurityDescriptorToSecurityDescriptorW(
               L"D:P(A;;GA;;;BA)(A;;GA;;;SY)", SDDL_REVISION_1, lock.access.put(), nullptr);
}

Attempt TryNamespace(FolderLock& lock, FolderClaim& claim) {
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, lock.access.get(), FALSE};
    UniqueMadeNamespace space(
        ::CreatePrivateNamespaceW(&attributes, lock.boundary.get(), lock.key.c_str()));
    if (space) {
        claim.space = std::move(space);
        return Attempt::Done;
    }
    return ::GetLastError() == ERROR_ALREADY_EXISTS ? Attempt::Busy : Attempt::NoLock;
}

// Where no namespace can be made (Wine; on Windows a launcher that is not elevated, which lies
// outside the boundary), a mutex of this logon session stands in. Under Wine every process of
// the prefix is the same user, so there is no one else to keep out.
bool PrepareMutex(FolderLock& lock) {
    lock.boundary.reset();
    lock.mutex.reset(::CreateMutexW(nullptr, FALSE, (L"Local\\" + lock.key + L"-folder").c_str()));
    return lock.mutex.valid();
}

Attempt TryMutex(FolderLock& lock, FolderClaim& claim, DWORD waitMs) {
    const DWORD result = ::WaitForSingleObject(lock.mutex.get(), waitMs);
    // Abandoned: the other launcher ended without letting go; the folder is ours now.
    if (result != WAIT_OBJECT_0 && result != WAIT_ABANDONED)
        return Attempt::Busy;
    claim.mutex.reset(lock.mutex.release());
    return Attempt::Done;
}

Attempt TryLock(FolderLock& lock, FolderClaim& claim, DWORD waitMs) {
    if (lock.mutex)
        return TryMutex(lock, claim, waitMs);
    ::Sleep(waitMs);
    // Once the namespace has been made here, a later refusal is a passing one, not a reason to
    // switch to a lock that a holder of the namespace would not see.
    const Attempt attempt = TryNamespace(lock, claim);
    return attempt == Attempt::NoLock ? Attempt::Busy : attempt;
}

Attempt FirstTry(FolderLock& lock, FolderClaim& claim) {
    if (PrepareNamespace(lock)) {
        const Attempt attempt = TryNamespace(lock, claim);
        if (attempt != Attempt::NoLock)
            return attempt;
    }
    return PrepareMutex(lock) ? TryMutex(lock, claim, 0) : Attempt::NoLock;
}

}  // namespace

std::wstring InstanceKeyOf(const std::wstring& folder) {
    const std::uint64_t hash = FolderHash(folder);
    return hash == 0 ? std::wstring() : KeyOfHash(hash);
}

bool ClaimInstallFolder(const std::wstring& folder, FolderClaim& claim, DWORD waitMs) {
    const std::uint64_t folderHash = FolderHash(folder);
    if (folderHash == 0)
        return true;
    FolderLock lock;
    lock.key = KeyOfHash(folderHash);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (Attempt attempt = FirstTry(lock, claim);; attempt = TryLock(lock, claim, kPollMs)) {
        if (attempt != Attempt::Busy)
            return true;
        if (BringOtherToFront(folderHash) || std::chrono::steady_clock::now() > deadline)
            return false;
    }
}

bool HoldsFolder(const FolderClaim& claim) {
    return claim.space.valid() || claim.mutex.valid();
}

void ReleaseFolder(FolderClaim& claim) {
    claim.mutex.reset();
    claim.space.reset();
}
