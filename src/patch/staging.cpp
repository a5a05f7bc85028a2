#include "patch/staging.h"

#include <windows.h>

#include <set>

#include "app/unique_handle.h"
#include "net/text_conversion.h"
#include "patch/install_paths.h"

namespace {

bool IsSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

// Stand-in until the shared folding rule is available here.
wchar_t FoldUnit(wchar_t c) {
    wchar_t folded[2] = {c, 0};
    ::CharLowerBuffW(folded, 1);
    return folded[0];
}

}  // namespace

std::wstring PathCollisionKey(const std::wstring& widePath) {
    std::wstring key;
    size_t begin = 0;
    for (size_t i = 0; i <= widePath.size(); ++i) {
        if (i < widePath.size() && !IsSeparator(widePath[i]))
            continue;
        size_t end = i;
        while (end > begin && (widePath[end - 1] == L'.' || widePath[end - 1] == L' '))
            --end;
        // "." and "" name the folder they stand in; a name of dots only never reaches here
        // (IsSafeRelativePath refuses it), and cutting it leaves nothing either.
        if (end > begin) {
            if (!key.empty())
                key.push_back(L'\\');
            for (size_t j = begin; j < end; ++j)
                key.push_back(FoldUnit(widePath[j]));
        }
        begin = i + 1;
    }
    return key;
}

std::vector<std::wstring> WidePathsOf(const std::vector<ManifestEntry>& entries) {
    std::vector<std::wstring> paths;
    paths.reserve(entries.size());
    for (const ManifestEntry& entry : entries)
        paths.push_back(Utf8ToWide(entry.relPath));
    return paths;
}

bool PathsCollide(const std::vector<std::wstring>& widePaths) {
    std::set<std::wstring> files;
    std::set<std::wstring> folders;
    std::vector<std::wstring> staging;
    staging.reserve(widePaths.size());
    for (const std::wstring& path : widePaths) {
        const std::wstring key = PathCollisionKey(path);
        if (!files.insert(key).second)
            return true;
        for (size_t i = key.find(L'\\'); i != std::wstring::npos; i = key.find(L'\\', i + 1))
            folders.insert(key.substr(0, i));
        staging.push_back(PathCollisionKey(PartPathFor(path)));
    }
    for (const std::wstring& key : files) {
        if (folders.count(key) != 0)
            return true;
    }
    for (const std::wstring& key : staging) {
        if (files.count(key) != 0 || folders.count(key) != 0)
            return true;
    }
    return false;
}

bool EntryPathsArePlain(const std::wstring& installDir, const std::wstring& widePath) {
    return IsPlainPathBelow(installDir, widePath) &&
           IsPlainPathBelow(installDir, PartPathFor(widePath));
}

bool MakeFreshStagingFile(const std::wstring& partPath, bool& somethingInTheWay) {
    ::DeleteFileW(partPath.c_str());
    UniqueFile file(::CreateFileW(partPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    const DWORD error = ::GetLastError();
    somethingInTheWay = !file && (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ||
                                  error == ERROR_ACCESS_DENIED);
    return file.valid();
}

void RemoveLeftoverStaging(const std::wstring& installDir,
                           const std::vector<std::wstring>& widePaths) {
    for (const std::wstring& path : widePaths) {
        const std::wstring part = PartPathFor(path);
        const std::wstring local = LocalPathFor(installDir, part);
        const DWORD attributes = ::GetFileAttributesW(local.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
            continue;
        if (IsPlainPathBelow(installDir, part))
            ::DeleteFileW(local.c_str());
    }
}
