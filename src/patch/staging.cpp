#include "patch/staging.h"

#include <windows.h>

#include <set>

#include "app/unique_handle.h"
#include "net/text_conversion.h"
#include "patch/install_paths.h"
#include "patch/relative_path.h"
#include "patch/staging_name.h"

namespace {

// The path below the installation as the file system sees it: steps applied, '\' between names.
std::wstring InstallRelative(const std::string& relPath) {
    return Utf8ToWide(LexicalRelativePath(relPath));
}

}  // namespace

bool EntriesCollide(const std::vector<ManifestEntry>& entries) {
    std::set<std::string> files;
    std::set<std::string> folders;
    for (const ManifestEntry& entry : entries) {
        const std::string key = CollisionKey(entry.relPath);
        if (!files.insert(key).second)
            return true;
        for (size_t i = key.find('/'); i != std::string::npos; i = key.find('/', i + 1))
            folders.insert(key.substr(0, i));
    }
    for (const std::string& key : files) {
        if (folders.count(key) != 0)
            return true;
    }
    for (const ManifestEntry& entry : entries) {
        const std::string staging = CollisionKey(StagingPathOf(entry.relPath));
        if (files.count(staging) != 0 || folders.count(staging) != 0)
            return true;
    }
    return false;
}

bool EntryPathsArePlain(const std::wstring& installDir, const std::string& relPath) {
    const std::wstring path = InstallRelative(relPath);
    return IsPlainPathBelow(installDir, path) && IsPlainPathBelow(installDir, PartPathFor(path));
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
                           const std::vector<ManifestEntry>& entries) {
    for (const ManifestEntry& entry : entries) {
        const std::wstring part = PartPathFor(InstallRelative(entry.relPath));
        const std::wstring local = installDir + L"\\" + part;
        const DWORD attributes = ::GetFileAttributesW(local.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
            continue;
        // Under Wine, deleting a link to a file deletes the file it points to.
        if (IsPlainPathBelow(installDir, part))
            ::DeleteFileW(local.c_str());
    }
}
