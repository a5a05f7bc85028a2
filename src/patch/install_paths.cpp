#include "patch/install_paths.h"

#include <windows.h>

#include "platform/kernel_handles.h"
#include "platform/text_conversion.h"

#include <vector>

namespace {

bool IsSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

bool SameNameIgnoringCase(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                  static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace

std::wstring InstallRelative(const std::string& relPath) {
    return Utf8ToWide(LexicalRelativePath(relPath));
}

std::wstring LocalPathFor(const std::wstring& installDir, const std::string& relPath) {
    return installDir + L"\\" + InstallRelative(relPath);
}

std::wstring PartPathFor(const std::wstring& filePath) {
    return filePath + L".part";
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

std::wstring FinalPathOfHandle(HANDLE handle) {
    std::wstring finalPath(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetFinalPathNameByHandleW(
            handle, &finalPath[0], static_cast<DWORD>(finalPath.size()), FILE_NAME_NORMALIZED);
        if (length == 0)
            return std::wstring();
        if (length < finalPath.size()) {
            finalPath.resize(length);
            return finalPath;
        }
        finalPath.resize(length);  // the size needed, terminator included
    }
}

std::wstring FinalPathOf(const std::wstring& path) {
    // No access asked for: a file that another process holds without sharing still opens.
    UniqueFile handle(::CreateFileW(path.c_str(), 0,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return handle ? FinalPathOfHandle(handle.get()) : std::wstring();
}

InstallRoot OpenInstallRoot(const std::wstring& path) {
    return InstallRoot{path, FinalPathOf(path)};
}

namespace {

// The names of a relative path as the file system keeps them: no empty or "." names, trailing
// dots and spaces dropped (Windows ignores them).
std::vector<std::wstring> NamesOf(const std::wstring& relPath) {
    std::vector<std::wstring> names;
    std::wstring name;
    for (size_t i = 0; i <= relPath.size(); ++i) {
        if (i < relPath.size() && !IsSeparator(relPath[i])) {
            name.push_back(relPath[i]);
            continue;
        }
        const bool dot = name == L".";
        while (!name.empty() && (name.back() == L'.' || name.back() == L' '))
            name.pop_back();
        if (!name.empty() && !dot)
            names.push_back(name);
        name.clear();
    }
    return names;
}

enum class Leaf { Missing, Plain, NotPlain };

// The last name: missing, or a plain name that resolves to itself.
Leaf CheckLeaf(const InstallRoot& root, const std::wstring& widePath) {
    const std::wstring path = root.path + L"\\" + widePath;
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Leaf::Missing
                                                                              : Leaf::NotPlain;
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        return Leaf::NotPlain;
    return IsFinalPathOf(FinalPathOf(path), root, widePath) ? Leaf::Plain : Leaf::NotPlain;
}

}  // namespace

bool IsFinalPathOf(const std::wstring& finalPath, const InstallRoot& root,
                   const std::wstring& relPath) {
    const std::wstring& rootFinal = root.finalPath;
    if (rootFinal.empty() || finalPath.size() < rootFinal.size() ||
        !SameNameIgnoringCase(finalPath.substr(0, rootFinal.size()), rootFinal)) {
        return false;
    }
    size_t at = rootFinal.size();
    for (const std::wstring& name : NamesOf(relPath)) {
        if (at >= finalPath.size() || finalPath[at] != L'\\')
            return false;
        ++at;
        size_t end = finalPath.find(L'\\', at);
        if (end == std::wstring::npos)
            end = finalPath.size();
        if (!SameNameIgnoringCase(finalPath.substr(at, end - at), name))
            return false;
        at = end;
    }
    return at == finalPath.size();
}

bool IsPlainLeafBelow(const InstallRoot& root, const std::wstring& widePath) {
    return !root.finalPath.empty() && CheckLeaf(root, widePath) != Leaf::NotPlain;
}

bool AreFoldersPlainBelow(const InstallRoot& root, const std::wstring& widePath) {
    if (root.finalPath.empty())
        return false;
    // Every folder on the way: Windows marks each junction, symbolic link and mount point as a
    // reparse point, and Wine marks its links to folders so. A folder missing ends the walk.
    const std::vector<std::wstring> names = NamesOf(widePath);
    std::wstring current = root.path;
    for (size_t i = 0; i + 1 < names.size(); ++i) {
        current += L"\\" + names[i];
        const DWORD attributes = ::GetFileAttributesW(current.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            const DWORD error = ::GetLastError();
            return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        }
        if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
            return false;
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            return true;  // nothing can lie below a file
    }
    return true;
}

bool IsPlainPathBelow(const InstallRoot& root, const std::wstring& widePath) {
    // The last name must resolve to itself; that also proves every folder name above it.
    return AreFoldersPlainBelow(root, widePath) && CheckLeaf(root, widePath) != Leaf::NotPlain;
}
