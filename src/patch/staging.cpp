#include "patch/staging.h"

#include <windows.h>

#include <set>
#include <sstream>

#include "net/http_client.h"
#include "platform/text_conversion.h"
#include "patch/file_states.h"
#include "patch/install_paths.h"
#include "patch/install_step.h"
#include "portable/patch/relative_path.h"
#include "portable/patch/staging_name.h"

bool EntriesCollide(const std::vector<ManifestEntry>& entries,
                    const std::vector<std::string>& reserved) {
    std::vector<const std::string*> paths;
    for (const ManifestEntry& entry : entries)
        paths.push_back(&entry.relPath);
    for (const std::string& name : reserved)
        paths.push_back(&name);
    std::set<std::string> files;
    std::set<std::string> folders;
    for (const std::string* path : paths) {
        const std::string key = CollisionKey(*path);
        if (!files.insert(key).second)
            return true;
        for (size_t i = key.find('/'); i != std::string::npos; i = key.find('/', i + 1))
            folders.insert(key.substr(0, i));
    }
    for (const std::string& key : files) {
        if (folders.count(key) != 0)
            return true;
    }
    for (const std::string* path : paths) {
        const std::string staging = CollisionKey(StagingPathOf(*path));
        if (files.count(staging) != 0 || folders.count(staging) != 0)
            return true;
    }
    return false;
}

const char kKeptPartsRecord[] = "talvora.parts";

namespace {

const char kRecordHeader[] = "TALVORA KEPT PARTS 1";

// The entry paths the record names; none when there is no record of the launcher's own, or it is
// not one. Paths that are not safe are passed over.
std::vector<std::string> ReadKeptParts(const InstallRoot& root) {
    std::string bytes;
    std::vector<std::string> names;
    if (!ReadRecordBelow(root, Utf8ToWide(kKeptPartsRecord), kMaxTextBytes, bytes))
        return names;
    std::istringstream lines(bytes);
    std::string line;
    if (!std::getline(lines, line) || line != kRecordHeader)
        return names;
    while (std::getline(lines, line)) {
        if (IsSafeRelativePath(line))
            names.push_back(line);
    }
    return names;
}

void RemoveStagingOf(const InstallRoot& root, const std::string& relPath) {
    const std::wstring part = PartPathFor(InstallRelative(relPath));
    if (::GetFileAttributesW((root.path + L"\\" + part).c_str()) == INVALID_FILE_ATTRIBUTES)
        return;
    // The folders above it too: under Wine, deleting through a link deletes what it points to.
    if (IsPlainPathBelow(root, part))
        RemoveFileBelow(root, part);
}

}  // namespace

void RemoveLeftoverStaging(const InstallRoot& root, const std::vector<ManifestEntry>& entries) {
    // One listing per folder rather than a look at each name: most runs find none. A folder that
    // cannot be listed is looked at name by name.
    NamesByFolder folders;
    for (std::size_t i = 0; i < entries.size(); ++i)
        AddName(folders, PartPathFor(InstallRelative(entries[i].relPath)), i);
    const std::atomic<bool> never{false};
    for (const auto& folder : folders) {
        std::vector<std::pair<std::size_t, FileState>> found;
        if (FindNames(root, folder.first, folder.second, never, found)) {
            for (const auto& file : found)
                RemoveStagingOf(root, entries[file.first].relPath);
            continue;
        }
        const std::wstring path =
            folder.first.empty() ? root.path : root.path + L"\\" + folder.first;
        if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
            continue;  // no folder, no leftover
        for (const auto& name : folder.second)
            RemoveStagingOf(root, entries[name.second].relPath);
    }
}

void RemoveLeftoverStaging(const InstallRoot& root, const std::vector<ManifestEntry>& entries,
                           const std::vector<std::size_t>& indexes) {
    for (std::size_t i : indexes)
        RemoveStagingOf(root, entries[i].relPath);
}

void SettleKeptParts(const InstallRoot& root, const std::vector<ManifestEntry>& entries,
                     const std::vector<ManifestEntry>& pending) {
    std::set<std::string> needed;
    for (const ManifestEntry& entry : pending)
        needed.insert(CollisionKey(entry.relPath));
    std::vector<std::string> names = ReadKeptParts(root);
    for (const ManifestEntry& entry : entries)
        names.push_back(entry.relPath);
    for (const std::string& name : names) {
        if (needed.count(CollisionKey(name)) == 0)
            RemoveStagingOf(root, name);
    }
    const std::wstring record = Utf8ToWide(kKeptPartsRecord);
    if (pending.empty()) {
        RemoveFileBelow(root, record);
        return;
    }
    std::string bytes = std::string(kRecordHeader) + "\n";
    for (const ManifestEntry& entry : pending)
        bytes += entry.relPath + "\n";
    WriteRecordBelow(root, record, bytes);
}
