#include "patch/file_states.h"

#include <cstddef>
#include <cstring>
#include <memory>
#include <unordered_map>

#include "platform/kernel_handles.h"

#include <winternl.h>

namespace {

constexpr DWORD kListingBytes = 64 * 1024;

std::uint64_t Unsigned(const LARGE_INTEGER& value) {
    return static_cast<std::uint64_t>(value.QuadPart);
}

// A 128-bit id as two halves, bytes in little-endian order: NTFS's 64-bit id is the low half.
void TakeId(const FILE_ID_128& id, FileState& state) {
    std::memcpy(&state.idLow, id.Identifier, 8);
    std::memcpy(&state.idHigh, id.Identifier + 8, 8);
}

void TakeId(const FILE_ID_EXTD_DIR_INFO& entry, FileState& state) {
    TakeId(entry.FileId, state);
}

void TakeId(const FILE_ID_BOTH_DIR_INFO& entry, FileState& state) {
    state.idLow = Unsigned(entry.FileId);
    state.idHigh = 0;
}

// Adds the plain files of one answer of the listing; false when the names pass `maxNames`.
template <typename Entry>
bool TakeEntries(const unsigned char* buffer, std::size_t maxNames, std::size_t& names,
                 std::vector<ListedFile>& files) {
    constexpr DWORD kNotPlain = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    std::size_t at = 0;
    for (;;) {
        const Entry* entry = reinterpret_cast<const Entry*>(buffer + at);
        const std::size_t nameAt = at + offsetof(Entry, FileName);
        if (nameAt + entry->FileNameLength > kListingBytes || ++names > maxNames)
            return false;
        if ((entry->FileAttributes & kNotPlain) == 0) {
            ListedFile file;
            file.name.assign(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
            file.state.size = Unsigned(entry->EndOfFile);
            file.state.lastWrite = entry->LastWriteTime.QuadPart;
            file.state.changeTime = entry->ChangeTime.QuadPart;
            TakeId(*entry, file.state);
            files.push_back(std::move(file));
        }
        if (entry->NextEntryOffset == 0)
            return true;
        at += entry->NextEntryOffset;
        if (at % alignof(Entry) != 0 || at + sizeof(Entry) > kListingBytes)
            return false;
    }
}

// Every answer of one kind of listing; the first call gives `first`, later ones `next`.
template <typename Entry>
bool ListAll(HANDLE folder, FILE_INFO_BY_HANDLE_CLASS first, FILE_INFO_BY_HANDLE_CLASS next,
             std::size_t maxNames, const std::atomic<bool>& stop, std::vector<ListedFile>& files) {
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[kListingBytes]);
    std::size_t names = 0;
    for (FILE_INFO_BY_HANDLE_CLASS kind = first;; kind = next) {
        if (stop.load())
            return false;
        if (!::GetFileInformationByHandleEx(folder, kind, buffer.get(), kListingBytes))
            return ::GetLastError() == ERROR_NO_MORE_FILES;
        if (!TakeEntries<Entry>(buffer.get(), maxNames, names, files))
            return false;
    }
}

bool IsPlainFolderAt(HANDLE folder, const InstallRoot& root, const std::wstring& folderRel) {
    FILE_ATTRIBUTE_TAG_INFO tag = {};
    return ::GetFileInformationByHandleEx(folder, FileAttributeTagInfo, &tag, sizeof tag) &&
           tag.ReparseTag == 0 && (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
           IsFinalPathOf(FinalPathOfHandle(folder), root, folderRel);
}

}  // namespace

bool ListFolderBelow(const InstallRoot& root, const std::wstring& folderRel, std::size_t maxNames,
                     const std::atomic<bool>& stop, std::vector<ListedFile>& files) {
    if (root.finalPath.empty())
        return false;
    const std::wstring path = folderRel.empty() ? root.path : root.path + L"\\" + folderRel;
    const UniqueFile folder(::CreateFileW(
        path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!folder || !IsPlainFolderAt(folder.get(), root, folderRel))
        return false;
    std::vector<ListedFile> listed;
    // 128-bit ids (ReFS's do not fit in 64 bits) where the system knows that listing; Windows
    // before 8 and Wine 8 refuse it, and give 64-bit ids in the older one.
    if (!ListAll<FILE_ID_EXTD_DIR_INFO>(folder.get(), FileIdExtdDirectoryRestartInfo,
                                        FileIdExtdDirectoryInfo, maxNames, stop, listed)) {
        if (stop.load())
            return false;
        listed.clear();
        if (!ListAll<FILE_ID_BOTH_DIR_INFO>(folder.get(), FileIdBothDirectoryRestartInfo,
                                            FileIdBothDirectoryInfo, maxNames, stop, listed)) {
            return false;
        }
    }
    files.swap(listed);
    return true;
}

bool ReadFileIndex(HANDLE file, std::uint64_t& index) {
    struct InternalInformation {
        LARGE_INTEGER indexNumber;
    } info = {};
    IO_STATUS_BLOCK status = {};
    constexpr auto kFileInternalInformation = static_cast<FILE_INFORMATION_CLASS>(6);
    if (::NtQueryInformationFile(file, &status, &info, sizeof info, kFileInternalInformation) < 0)
        return false;
    index = Unsigned(info.indexNumber);
    return true;
}

bool ReadSingleLinkState(HANDLE file, FileState& state, bool wideId) {
    FILE_BASIC_INFO basic = {};
    FILE_STANDARD_INFO standard = {};
    if (!::GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) ||
        !::GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard) ||
        standard.NumberOfLinks != 1 || standard.Directory) {
        return false;
    }
    // The 128-bit query also looks the volume up, which under Wine costs a hundred times more.
    FILE_ID_INFO id = {};
    if (wideId) {
        if (!::GetFileInformationByHandleEx(file, FileIdInfo, &id, sizeof id))
            return false;
        TakeId(id.FileId, state);
    } else if (!ReadFileIndex(file, state.idLow)) {
        return false;
    } else {
        state.idHigh = 0;
    }
    state.size = Unsigned(standard.EndOfFile);
    state.lastWrite = basic.LastWriteTime.QuadPart;
    state.changeTime = basic.ChangeTime.QuadPart;
    return true;
}

std::wstring NameKey(const std::wstring& name) {
    if (name.empty())
        return name;
    std::wstring key(name.size(), L'\0');
    const int length = ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, name.c_str(),
                                       static_cast<int>(name.size()), &key[0],
                                       static_cast<int>(key.size()), nullptr, nullptr, 0);
    key.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
    return key;
}

void AddName(NamesByFolder& folders, const std::wstring& relPath, std::size_t index) {
    const std::size_t cut = relPath.find_last_of(L'\\');
    const std::wstring folder = cut == std::wstring::npos ? std::wstring() : relPath.substr(0, cut);
    folders[folder].emplace_back(cut == std::wstring::npos ? relPath : relPath.substr(cut + 1),
                                 index);
}

bool FindNames(const InstallRoot& root, const std::wstring& folder,
               const std::vector<std::pair<std::wstring, std::size_t>>& wanted,
               const std::atomic<bool>& stop,
               std::vector<std::pair<std::size_t, FileState>>& found) {
    std::vector<ListedFile> listed;
    if (!ListFolderBelow(root, folder, 4 * wanted.size() + 4096, stop, listed))
        return false;
    // The name as written is the file that opening it gives (Wine, too, tries it first); only a
    // name found under another case is looked up by key, where two files may answer.
    std::unordered_map<std::wstring, const ListedFile*> byName, byKey;
    for (const ListedFile& file : listed)
        byName.emplace(file.name, &file);
    for (const auto& name : wanted) {
        auto at = byName.find(name.first);
        if (at == byName.end()) {
            if (byKey.empty()) {
                for (const ListedFile& file : listed) {
                    const auto added = byKey.emplace(NameKey(file.name), &file);
                    if (!added.second)
                        added.first->second = nullptr;
                }
            }
            at = byKey.find(NameKey(name.first));
            if (at == byKey.end() || at->second == nullptr)
                continue;
        }
        found.emplace_back(name.second, at->second->state);
    }
    return true;
}
