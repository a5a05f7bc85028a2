#include "patch/verified_files.h"

#include <windows.h>

#include <unordered_map>
#include <utility>

#include "net/text_conversion.h"
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

NamesByFolder FoldersOf(const std::vector<ManifestEntry>& entries) {
    NamesByFolder folders;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (!entries[i].ifMissing)
            AddName(folders, InstallRelative(entries[i].relPath), i);
    }
    return folders;
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

bool ListMeetsVerifiedRecord(const std::vector<ManifestEntry>& entries) {
    std::vector<ManifestEntry> withRecord = entries;
    ManifestEntry record;
    record.relPath = kVerifiedRecord;
    withRecord.push_back(record);
    return EntriesCollide(withRecord);
}

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
                      bool trustRecord, const std::atomic<bool>& stop, QuickFacts& facts) {
    const std::size_t count = entries.size();
    facts.states.assign(count, FileState());
    facts.settled.assign(count, 0);
    facts.writtenOut.assign(count, 0);
    facts.vouched.assign(count, 0);
    facts.verified.assign(count, 0);
    facts.recordBytes.clear();
    std::vector<char> known(count, 0);
    const std::int64_t takenAt = FileTimeNow();
    std::vector<std::pair<std::size_t, FileState>> found;
    for (const auto& folder : FoldersOf(entries)) {
        if (stop.load())
            return false;
        FindNames(root, folder.first, folder.second, stop, found);
    }
    for (const auto& file : found) {
        facts.states[file.first] = file.second;
        known[file.first] = 1;
    }
    if (stop.load())
        return false;
    for (std::size_t i = 0; i < count; ++i) {
        facts.settled[i] = known[i] && IsSettledState(facts.states[i], takenAt);
        facts.writtenOut[i] = known[i] && IsSettledState(facts.states[i], takenAt, kWrittenOutTime);
    }
    VerifiedRecord record;
    if (ReadRecord(root, entries, record, facts.recordBytes) && trustRecord)
        Vouch(entries, record, known, facts);
    return true;
}

void RecordCheckedFiles(const InstallRoot& root, const std::vector<ManifestEntry>& entries,
                        const QuickFacts& facts) {
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
