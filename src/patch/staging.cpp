#include "patch/staging.h"

#include <windows.h>

#include <set>

#include "portable/unique_handle.h"
#include "net/text_conversion.h"
#include "patch/install_paths.h"
#include "patch/install_step.h"
#include "portable/patch/relative_path.h"
#include "portable/patch/staging_name.h"

std::wstring InstallRelative(const std::string& relPath) {
    return Utf8ToWide(LexicalRelativePath(relPath));
}

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

bool EntryPathsArePlain(const InstallRoot& root, const std::string& relPath) {
    const std::wstring path = InstallRelative(relPath);
    return IsPlainPathBelow(root, path) && IsPlainLeafBelow(root, PartPathFor(path));
}

void RemoveLeftoverStaging(const InstallRoot& root, const std::vector<ManifestEntry>& entries) {
    for (const ManifestEntry& entry : entries) {
        const std::wstring part = PartPathFor(InstallRelative(entry.relPath));
        if (::GetFileAttributesW((root.path + L"\\" + part).c_str()) == INVALID_FILE_ATTRIBUTES)
            continue;
        // The folders above it too: under Wine, deleting through a link deletes what it points to.
        if (IsPlainPathBelow(root, part))
            RemoveFileBelow(root, part);
    }
}
