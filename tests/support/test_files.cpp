#include "support/test_files.h"

#include <windows.h>
#include <aclapi.h>

#include <algorithm>
#include <atomic>
#include <vector>

#include "platform/kernel_handles.h"
#include "patch/install_paths.h"

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    wchar_t base[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, base);
    for (;;) {
        std::wstring candidate = std::wstring(base) + L"talvora-test-" +
                                 std::to_wstring(::GetCurrentProcessId()) + L"-" +
                                 std::to_wstring(counter.fetch_add(1));
        if (::CreateDirectoryW(candidate.c_str(), nullptr)) {
            path_ = candidate;
            return;
        }
        if (::GetLastError() != ERROR_ALREADY_EXISTS)
            return;
    }
}

TempDir::~TempDir() {
    if (!path_.empty())
        RemoveTree(path_);
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    size_t done = 0;
    while (done < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 24));
        DWORD written = 0;
        if (!::WriteFile(file.get(), bytes.data() + done, chunk, &written, nullptr) ||
            written == 0) {
            return false;
        }
        done += written;
    }
    return true;
}

bool WriteZeroFile(const std::wstring& path, std::uint64_t size) {
    UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(size);
    return file && ::SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN) &&
           ::SetEndOfFile(file.get());
}

std::string ReadFileBytes(const std::wstring& path) {
    UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string bytes;
    if (!file)
        return bytes;
    char buffer[65536];
    DWORD got = 0;
    while (::ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0) {
        bytes.append(buffer, got);
    }
    return bytes;
}

bool PathExists(const std::wstring& path) {
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

namespace {

// Wine's path of a Windows one; empty outside Wine.
std::string UnixPathOf(const std::wstring& path) {
    using ToUnix = char*(CDECL*)(const wchar_t*);
    const auto toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
    if (toUnix == nullptr)
        return std::string();
    char* unixName = toUnix(path.c_str());
    if (unixName == nullptr)
        return std::string();
    std::string result = unixName;
    ::HeapFree(::GetProcessHeap(), 0, unixName);
    return result;
}

// Wine starts Unix programs as it starts Windows ones, but their handles cannot be waited for:
// the caller watches for the result instead, for at most 20 s.
template <typename Done>
bool RunUnixProgram(std::wstring commandLine, Done done) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &info)) {
        return false;
    }
    UniqueKernelHandle process(info.hProcess), thread(info.hThread);
    for (int i = 0; i < 2000 && !done(); ++i)
        ::Sleep(10);
    return done();
}

std::wstring QuotedUnixPath(const std::wstring& path) {
    const std::string unixName = UnixPathOf(path);
    return L"\"" + std::wstring(unixName.begin(), unixName.end()) + L"\"";
}

std::wstring ParentOf(const std::wstring& path) {
    return path.substr(0, path.find_last_of(L'\\'));
}

std::wstring NameOf(const std::wstring& path) {
    return path.substr(path.find_last_of(L'\\') + 1);
}

// The name is in its folder's listing, even as a link that leads nowhere.
bool NameListed(const std::wstring& path) {
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW(path.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return false;
    ::FindClose(find);
    return true;
}

}  // namespace

bool MakeSymlink(const std::wstring& link, const std::wstring& target) {
    const DWORD attributes = ::GetFileAttributesW(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return false;
    if (UnixPathOf(ParentOf(link)).empty()) {
        constexpr DWORD kUnprivileged = 0x2;  // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
        const DWORD flags =
            kUnprivileged |
            ((attributes & FILE_ATTRIBUTE_DIRECTORY) ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0);
        return ::CreateSymbolicLinkW(link.c_str(), target.c_str(), flags) != FALSE;
    }
    // The test's names are ASCII, so the Unix paths pass through a wide command line unchanged.
    const std::string parent = UnixPathOf(ParentOf(link));
    const std::wstring unixLink = std::wstring(parent.begin(), parent.end()) +
                                  (parent.back() == '/' ? L"" : L"/") + NameOf(link);
    return RunUnixProgram(L"/bin/ln -s " + QuotedUnixPath(target) + L" \"" + unixLink + L"\"",
                          [&] { return PathExists(link); });
}

bool RenameAsUnixProcess(const std::wstring& from, const std::wstring& to) {
    if (UnixPathOf(from).empty())
        return false;
    const std::string parent = UnixPathOf(ParentOf(to));
    const std::wstring unixTo = std::wstring(parent.begin(), parent.end()) +
                                (parent.back() == '/' ? L"" : L"/") + NameOf(to);
    return RunUnixProgram(L"/bin/mv " + QuotedUnixPath(from) + L" \"" + unixTo + L"\"",
                          [&] { return PathExists(to) && !NameListed(from); });
}

void RemoveTree(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    // Under Wine a link is removed by Unix: RemoveDirectoryW on a link to an empty folder and
    // DeleteFileW on a link to a file remove what they point to, and a dangling link cannot even
    // be seen, so a folder that keeps one is removed by Unix as well.
    const bool wine = !UnixPathOf(path).empty();
    const bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
                      (wine && !IsPlainPathBelow(OpenInstallRoot(ParentOf(path)), NameOf(path)));
    if (link && wine) {
        RunUnixProgram(L"/bin/rm -f " + QuotedUnixPath(path), [&] { return !NameListed(path); });
    } else if (link) {
        if (!::RemoveDirectoryW(path.c_str()))
            ::DeleteFileW(path.c_str());
    } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        WIN32_FIND_DATAW data;
        const UniqueFind find(::FindFirstFileW((path + L"\\*").c_str(), &data));
        if (find) {
            do {
                const std::wstring name = data.cFileName;
                if (name != L"." && name != L"..")
                    RemoveTree(path + L"\\" + name);
            } while (::FindNextFileW(find.get(), &data));
        }
        if (!::RemoveDirectoryW(path.c_str()) && wine)
            RunUnixProgram(L"/bin/rm -rf " + QuotedUnixPath(path),
                           [&] { return !PathExists(path); });
    } else {
        ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(path.c_str());
    }
}

namespace {

void ListTreeInto(const std::wstring& root, const std::wstring& prefix,
                  std::vector<std::wstring>& out) {
    WIN32_FIND_DATAW data;
    const UniqueFind find(::FindFirstFileW((root + L"\\" + prefix + L"*").c_str(), &data));
    if (!find)
        return;
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..")
            continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            out.push_back(prefix + name + L"\\");
            ListTreeInto(root, prefix + name + L"\\", out);
        } else {
            out.push_back(prefix + name);
        }
    } while (::FindNextFileW(find.get(), &data));
}

}  // namespace

std::vector<std::wstring> ListTree(const std::wstring& root) {
    std::vector<std::wstring> names;
    ListTreeInto(root, L"", names);
    return names;
}

std::wstring EnvVar(const wchar_t* name) {
    const DWORD needed = ::GetEnvironmentVariableW(name, nullptr, 0);
    if (needed == 0)
        return std::wstring();
    std::vector<wchar_t> buffer(needed);
    const DWORD got = ::GetEnvironmentVariableW(name, buffer.data(), needed);
    return std::wstring(buffer.data(), got);
}

std::wstring BuildPath(const char* utf8) {
    std::wstring path;
    const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
    if (n > 1) {
        path.resize(static_cast<size_t>(n - 1));
        ::MultiByteToWideChar(CP_UTF8, 0, utf8, -1, &path[0], n);
    }
    if (!path.empty() && path[0] == L'/') {
        for (wchar_t& c : path) {
            if (c == L'/')
                c = L'\\';
        }
        path = L"Z:" + path;
    }
    return path;
}

bool GrantEveryoneFullControl(const std::wstring& path) {
    EXPLICIT_ACCESSW grant = {};
    grant.grfAccessPermissions = GENERIC_ALL;
    grant.grfAccessMode = SET_ACCESS;
    grant.Trustee.TrusteeForm = TRUSTEE_IS_NAME;
    grant.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    grant.Trustee.ptstrName = const_cast<wchar_t*>(L"EVERYONE");
    PACL acl = nullptr;
    if (::SetEntriesInAclW(1, &grant, nullptr, &acl) != ERROR_SUCCESS)
        return false;
    const DWORD result =
        ::SetNamedSecurityInfoW(const_cast<wchar_t*>(path.c_str()), SE_FILE_OBJECT,
                                DACL_SECURITY_INFORMATION, nullptr, nullptr, acl, nullptr);
    ::LocalFree(acl);
    return result == ERROR_SUCCESS;
}
