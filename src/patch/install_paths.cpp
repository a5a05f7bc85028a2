#include "patch/install_paths.h"

#include <windows.h>

#include "net/kernel_handles.h"
#include "net/text_conversion.h"

namespace {

bool IsSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

// The last name of a final path, and the folder above it.
bool SplitFinalPath(const std::wstring& finalPath, std::wstring& parent, std::wstring& name) {
    const size_t last = finalPath.find_last_of(L'\\');
    if (last == std::wstring::npos)
        return false;
    parent = finalPath.substr(0, last);
    name = finalPath.substr(last + 1);
    return true;
}

bool SameNameIgnoringCase(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                  static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace

std::wstring LocalPathFor(const std::wstring& installDir, const std::string& relPath) {
    return installDir + L"\\" + Utf8ToWide(LexicalRelativePath(relPath));
}

std::wstring PartPathFor(const std::wstring& localPath) {
    return localPath + L".part";
}

std::wstring DownloadUrlFor(const std::wstring& baseUrl, const std::wstring& widePath) {
    return baseUrl + widePath;
}

void CreateParentDirectories(const std::wstring& filePath) {
    const size_t last = filePath.find_last_of(L"\\/");
    if (last == std::wstring::npos)
        return;
    const std::wstring directory = filePath.substr(0, last);
    // Every prefix up to a separator, the drive root and the folders above the installation
    // included: those fail harmlessly because they exist.
    std::wstring prefix;
    for (wchar_t c : directory) {
        prefix.push_back(c);
        if (IsSeparator(c))
            ::CreateDirectoryW(prefix.c_str(), nullptr);
    }
    ::CreateDirectoryW(directory.c_str(), nullptr);
}

std::wstring FinalPathOf(const std::wstring& path) {
    // No access asked for: a file that another process holds without sharing still opens.
    UniqueFile handle(::CreateFileW(path.c_str(), 0,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle)
        return std::wstring();
    std::wstring finalPath(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetFinalPathNameByHandleW(handle.get(), &finalPath[0],
                                        static_cast<DWORD>(finalPath.size()), FILE_NAME_NORMALIZED);
        if (length == 0)
            return std::wstring();
        if (length < finalPath.size()) {
            finalPath.resize(length);
            return finalPath;
        }
        finalPath.resize(length);  // the size needed, terminator included
    }
}

bool IsPlainPathBelow(const std::wstring& installDir, const std::wstring& widePath) {
    std::wstring parentFinal = FinalPathOf(installDir);
    if (parentFinal.empty())
        return false;
    std::wstring current = installDir;
    size_t begin = 0;
    for (size_t i = 0; i <= widePath.size(); ++i) {
        if (i < widePath.size() && !IsSeparator(widePath[i]))
            continue;
        std::wstring name = widePath.substr(begin, i - begin);
        begin = i + 1;
        if (name.empty() || name == L".")
            continue;
        current += L"\\" + name;
        const DWORD attributes = ::GetFileAttributesW(current.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            const DWORD error = ::GetLastError();
            return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        }
        // Windows marks every junction, symbolic link and mount point so. Wine marks only links to
        // folders; a link to a file shows up below, as a final path that lies elsewhere.
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
            return false;
        const std::wstring finalPath = FinalPathOf(current);
        std::wstring finalParent, finalName;
        if (!SplitFinalPath(finalPath, finalParent, finalName))
            return false;
        // Windows ignores trailing dots and spaces of a name.
        while (!name.empty() && (name.back() == L'.' || name.back() == L' '))
            name.pop_back();
        if (!SameNameIgnoringCase(finalParent, parentFinal) ||
            !SameNameIgnoringCase(finalName, name)) {
            return false;
        }
        parentFinal = finalPath;
    }
    return true;
}
