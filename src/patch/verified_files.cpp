#include "patch/verified_files.h"

#include <windows.h>

#include <unordered_map>
#include <utility>

#include "platform/text_conversion.h"
#include "patch/file_states.h"
#include "patch/install_step.h"
#include "patch/staging.h"

const char kVerifiedRecord[] = "talvora.verified";

namespace {

std::string Utf8Of(const std::wstring& wide) {
    if (wide.empty())
        return std::string();
    const int length = ::WideCharToMultiByte(
        CP_UTF8, 0, wide.c_str(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
    if (length > 0) {
        ::WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), static_cast<int>(wide.size()), &utf8[0],
                              length, nullptr, nullptr);
    }
    return utf8;
}

std::wstring RecordName() {
    return Utf8ToWide(kVerifiedRecord);
}

// The record when it is the launcher's own, of this very folder, and no larger than a record of
// this list can be. `bytes` is what was read, record or not.
bool ReadRecord(const InstallRoot& root, const std::vector<ManifestEntry>& entries,
                VerifiedRecord& record, std::string& bytes) {
    const std::string folder = Utf8Of(root.finalPath);
    return ReadRecordBelow(root, RecordName(), VerifiedRecordCap(folder, entries), bytes) &&
           ReadVerifiedRecord(bytes, record) && record.folder == folder;
}

void WriteIfChanged(const InstallRoot& root, const VerifiedRecord& record,
                    const std::string& before) {
    const std::string bytes = FormatVerifiedRecord(record);
    // A record that cannot be written leaves the next start to hash what it would have named.
    if (bytes != before)
        WriteRecordBelow(root, RecordName(), bytes);
}

// The entries' files by index, and with `withStaging` their staging files at count + index.
NamesByFolder FoldersOf(const std::vector<ManifestEntry>& entries, bool withStaging) {
    NamesByFolder folders;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const std::wstring rel = InstallRelative(entries[i].relPath);
        if (!entries[i].ifMissing)
            AddName(folders, rel, i);
        if (withStaging)
            AddName(folders, PartPathFor(rel), entries.size() + i);
    }
    return folders;
}

bool FolderExists(const InstallRoot& root, const std::wstring& folder) {
    const std::wstring path = folder.empty() ? root.path : root.path + L"\\" + folder;
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// One listing of each folder: the states of the entries' files, and the entries whose staging
// file lies beside them (or may: in a folder that could not be listed, looked at name by name).
bool ListEntries(const InstallRoot& root, const std::vector<ManifestEntry>& entries,
                 bool withStaging, const std::atomic<bool>& stop, QuickFacts& facts,
                 std::vector<char>& known) {
    const std::size_t count = entries.size();
    std::vector<std::pair<std::size_t, FileState>> found;
    for (const auto& folder : FoldersOf(entries, withStaging)) {
        if (stop.load())
            return false;
        if (FindNames(root, folder.first, folder.second, stop, found) ||
            !FolderExists(root, folder.first)) {
            continue;
        }
        for (const auto& name : folder.second) {
            if (name.second >= count)
                facts.leftovers.push_back(name.second - count);
        }
    }
    for (const auto& file : found) {
        if (file.first >= count) {
            facts.leftovers.push_back(file.first - count);
        } else {
            facts.states[file.first] = file.second;
            known[file.first] = 1;
        }
    }
    return !stop.load();
}

void Vouch(const std::vector<ManifestEntry>& entries, const VerifiedRecord& record,
           const std::vector<char>& known, QuickFacts& facts) {
    std::unordered_map<std::string, const VerifiedFile*> byPath;
    for (const VerifiedFile& file : record.files)
        byPath.emplace(file.relPath, &file);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto found = byPath.find(entries[i].relPath);
        facts.vouched[i] = known[i] && found != byPath.end() &&
                           found->second->state == facts.states[i] &&
                           found->second->sha256 == entries[i].sha256;
    }
}

}  // namespace

std::int64_t FileTimeNow() {
    FILETIME now = {};
    ::GetSystemTimeAsFileTime(&now);
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(now.dwHighDateTime) << 32) |
                                     now.dwLowDateTime);
}

bool IsSettledState(const FileState& state, std::int64_t takenAt, std::int64_t settle) {
    const bool realId = (state.idLow != 0 || state.idHigh != 0) &&
                        (state.idLow != ~std::uint64_t{0} || state.idHigh != ~std::uint64_t{0});
    return realId && state.changeTime > 0 && state.changeTime < takenAt - settle &&
           state.lastWrite < takenAt - settle;
}

bool GatherQuickFacts(const InstallRoot& root, const std::vector<ManifestEntry>& entries,
                      bool trustRecord, bool findLeftovers, const std::atomic<bool>& stop,
                      QuickFacts& facts) {
    const std::size_t count = entries.size();
    facts.states.assign(count, FileState());
    facts.settled.assign(count, 0);
    facts.writtenOut.assign(count, 0);
    facts.vouched.assign(count, 0);
    facts.verified.assign(count, 0);
    facts.leftovers.clear();
    facts.recordBytes.clear();
    facts.recordFiles = 0;
    std::vector<char> known(count, 0);
    const std::int64_t takenAt = FileTimeNow();
    if (!ListEntries(root, entries, findLeftovers, stop, facts, known))
        return false;
    for (std::size_t i = 0; i < count; ++i) {
        facts.settled[i] = known[i] && IsSettledState(facts.states[i], takenAt);
        facts.writtenOut[i] = known[i] && IsSettledState(facts.states[i], takenAt, kWrittenOutTime);
    }
    VerifiedRecord record;
    if (ReadRecord(root, entries, record, facts.recordBytes)) {
        facts.recordFiles = record.files.size();
        if (trustRecord)
            Vouch(entries, record, known, facts);
    }
    return true;
}

void RecordCheckedFiles(const InstallRoot& root, const std::vector<ManifestEntry>& entries,
                        const QuickFacts& facts) {
    // Nothing new, and every file of the record vouched for: it would be written as it is.
    bool verified = false;
    std::size_t vouched = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        verified = verified || facts.verified[i];
        vouched += facts.vouched[i] ? 1 : 0;
    }
    if (!verified && vouched == facts.recordFiles && !facts.recordBytes.empty())
        return;
    VerifiedRecord record;
    record.folder = Utf8Of(root.finalPath);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (facts.vouched[i] || facts.verified[i])
            record.files.push_back(
                VerifiedFile{entries[i].relPath, facts.states[i], entries[i].sha256});
    }
    WriteIfChanged(root, record, facts.recordBytes);
}

void RecordInstalledFiles(const InstallRoot& root, const std::vector<ManifestEntry>& entries,
                          const std::vector<VerifiedFile>& installed) {
    if (installed.empty())
        return;
    std::unordered_map<std::string, const ManifestEntry*> listed;
    for (const ManifestEntry& entry : entries) {
        if (!entry.ifMissing)
            listed.emplace(entry.relPath, &entry);
    }
    std::unordered_map<std::string, const VerifiedFile*> fresh;
    for (const VerifiedFile& file : installed)
        fresh.emplace(file.relPath, &file);
    const auto stillListed = [&listed](const VerifiedFile& file) {
        const auto found = listed.find(file.relPath);
        return found != listed.end() && found->second->sha256 == file.sha256;
    };
    VerifiedRecord before, record;
    std::string bytes;
    record.folder = Utf8Of(root.finalPath);
    if (ReadRecord(root, entries, before, bytes)) {
        for (const VerifiedFile& file : before.files) {
            if (fresh.count(file.relPath) == 0 && stillListed(file))
                record.files.push_back(file);
        }
    }
    // A file whose state could not be read through its handle, or had not settled, has none.
    for (const VerifiedFile& file : installed) {
        if (file.state.changeTime > 0 && stillListed(file))
            record.files.push_back(file);
    }
    WriteIfChanged(root, record, bytes);
}
