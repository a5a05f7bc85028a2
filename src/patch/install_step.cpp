#include "patch/install_step.h"

#include <windows.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/file_hash.h"
#include "patch/file_states.h"
#include "patch/install_paths.h"
#include "patch/launcher_made.h"

// Wine keeps the Unix name a handle was opened under and renames or deletes by that name, where
// Windows acts on the object the handle holds. A Unix process is also not bound by share modes,
// so under Wine a held staging name can still be swapped. Every step therefore checks both the
// handle and the name right before and after it acts; on Windows the share modes alone already
// keep other processes out.

namespace {

// What the checks need to know of an open file, each from a query of its own: under Wine the
// one call that gives them all (GetFileInformationByHandle) also looks the volume up and costs
// well over a hundred times as much, which every file of a run pays several times.
struct FileFacts {
    DWORD attributes = 0;
    DWORD reparseTag = 0;
    DWORD links = 0;
};

bool ReadFacts(HANDLE handle, FileFacts& facts) {
    FILE_ATTRIBUTE_TAG_INFO tag = {};
    FILE_STANDARD_INFO standard = {};
    if (!::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag) ||
        !::GetFileInformationByHandleEx(handle, FileStandardInfo, &standard, sizeof standard)) {
        return false;
    }
    facts.attributes = tag.FileAttributes;
    facts.reparseTag = tag.ReparseTag;
    facts.links = standard.NumberOfLinks;
    return true;
}

// A plain file (no folder, no reparse point) whose path is exactly root + relPath; with
// `singleLink`, also one that shares its content with no other name. `facts` are the file's.
bool HandleIsPlainFileAt(HANDLE handle, const InstallRoot& root, const std::wstring& relPath,
                         bool singleLink, FileFacts& facts) {
    if (!ReadFacts(handle, facts) || facts.reparseTag != 0 ||
        (facts.attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
        (singleLink && facts.links != 1)) {
        return false;
    }
    return IsFinalPathOf(FinalPathOfHandle(handle), root, relPath);
}

bool HandleIsPlainFileAt(HANDLE handle, const InstallRoot& root, const std::wstring& relPath,
                         bool singleLink) {
    FileFacts facts;
    return HandleIsPlainFileAt(handle, root, relPath, singleLink, facts);
}

// Opens a name without following a link at its end (Windows opens the link itself; Wine follows
// it, which the final-path checks catch). Folders open too, so that they can be told apart.
UniqueFile OpenNoFollow(const std::wstring& path, DWORD access) {
    return UniqueFile(::CreateFileW(
        path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

// The name leads to the very file `handle` holds.
bool NameIsHandle(const InstallRoot& root, const std::wstring& relPath, HANDLE handle) {
    const UniqueFile byName = OpenNoFollow(root.path + L"\\" + relPath, FILE_READ_ATTRIBUTES);
    std::uint64_t a = 0, b = 0;
    // The number alone could match a file on another volume that a link leads to; the name's
    // final path rules that out.
    return byName && ReadFileIndex(byName.get(), a) && ReadFileIndex(handle, b) && a == b &&
           IsFinalPathOf(FinalPathOfHandle(byName.get()), root, relPath);
}

bool NotFound(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Creates a file that is not there yet, without following a link at its name; the error when it
// cannot.
DWORD CreateNew(const std::wstring& path, UniqueFile& file) {
    file.reset(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr,
                             CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                             nullptr));
    return file ? ERROR_SUCCESS : ::GetLastError();
}

bool SetReadOnly(HANDLE handle, DWORD attributes, bool readOnly) {
    FILE_BASIC_INFO basic = {};
    basic.FileAttributes = readOnly ? (attributes | FILE_ATTRIBUTE_READONLY)
                                    : (attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    if (basic.FileAttributes == 0)
        basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    return ::SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic) != FALSE;
}

bool DeleteThrough(HANDLE handle) {
    FILE_DISPOSITION_INFO disposition = {};
    disposition.DeleteFile = TRUE;
    return ::SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                        sizeof disposition) != FALSE;
}

// Renames the file `handle` holds to `to` (a full path).
bool RenameThrough(HANDLE handle, const std::wstring& to, bool replace) {
    const size_t nameBytes = to.size() * sizeof(wchar_t);
    const size_t size = sizeof(FILE_RENAME_INFO) + nameBytes;
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[size]());
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.get());
    info->ReplaceIfExists = replace ? TRUE : FALSE;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(nameBytes);
    std::memcpy(info->FileName, to.c_str(), nameBytes);
    return ::SetFileInformationByHandle(handle, FileRenameInfo, info, static_cast<DWORD>(size)) !=
           FALSE;
}

std::wstring Below(const InstallRoot& root, const std::wstring& relPath) {
    return root.path + L"\\" + relPath;
}

// A read-only file at the target is made writable for the move and put back as it was when the
// move fails. No handle to it stays open across the move: a file that is open cannot be replaced.
class ReadOnlyTarget {
  public:
    StepResult Open(const InstallRoot& root, const std::wstring& relPath) {
        const UniqueFile file =
            OpenNoFollow(Below(root, relPath), FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES);
        if (!file)
            return NotFound(::GetLastError()) ? StepResult::Done : StepResult::Failed;
        FileFacts facts;
        if (!HandleIsPlainFileAt(file.get(), root, relPath, false, facts))
            return StepResult::Unsafe;
        if ((facts.attributes & FILE_ATTRIBUTE_READONLY) == 0)
            return StepResult::Done;
        if (!SetReadOnly(file.get(), facts.attributes, false))
            return StepResult::Failed;
        root_ = root;
        relPath_ = relPath;
        attributes_ = facts.attributes;
        cleared_ = true;
        return StepResult::Done;
    }
    void Keep() { cleared_ = false; }
    ~ReadOnlyTarget() {
        if (!cleared_)
            return;
        const UniqueFile file = OpenNoFollow(Below(root_, relPath_), FILE_WRITE_ATTRIBUTES);
        if (file && HandleIsPlainFileAt(file.get(), root_, relPath_, false))
            SetReadOnly(file.get(), attributes_, true);
    }

  private:
    InstallRoot root_;
    std::wstring relPath_;
    DWORD attributes_ = 0;
    bool cleared_ = false;
};

}  // namespace

StagingFile::~StagingFile() {
    DiscardStagingFile(*this);
}

void DiscardStagingFile(StagingFile& staged) {
    if (staged.handle)
        DeleteThrough(staged.handle.get());
    staged.handle.reset();
}

StepResult CreateStagingFile(const InstallRoot& root, const std::wstring& relPath,
                             StagingFile& staged) {
    DiscardStagingFile(staged);
    if (root.finalPath.empty())
        return StepResult::Failed;
    // Made new, never replacing anything. Whatever stands at the name (an earlier run's file)
    // must go first, and one that appears again after that makes the second try fail.
    UniqueFile file;
    DWORD error = CreateNew(Below(root, relPath), file);
    if (!file && !NotFound(error)) {
        const StepResult cleared = RemoveFileBelow(root, relPath);
        if (cleared != StepResult::Done)
            return cleared;
        error = CreateNew(Below(root, relPath), file);
    }
    if (!file) {
        return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? StepResult::Unsafe
                                                                           : StepResult::Failed;
    }
    staged.handle = std::move(file);
    staged.root = root;
    staged.relPath = relPath;
    // A folder above it swapped for a link puts the new file elsewhere: it is ours, so it goes.
    return HandleIsPlainFileAt(staged.handle.get(), root, relPath, true) ? StepResult::Done
                                                                         : StepResult::Unsafe;
}

StepResult AdoptStagingFile(const InstallRoot& root, const std::wstring& relPath,
                            std::uint64_t maxSize, StagingFile& staged, std::uint64_t& kept) {
    DiscardStagingFile(staged);
    kept = 0;
    if (root.finalPath.empty())
        return StepResult::Failed;
    UniqueFile file(::CreateFileW(Below(root, relPath).c_str(),
                                  GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) {
        return NotFound(::GetLastError()) ? CreateStagingFile(root, relPath, staged)
                                          : StepResult::Failed;
    }
    staged.handle = std::move(file);
    staged.root = root;
    staged.relPath = relPath;
    if (!HandleIsPlainFileAt(staged.handle.get(), root, relPath, true)) {
        // Not one to continue: made anew where that is safe, refused where it is not.
        staged.handle.reset();
        return CreateStagingFile(root, relPath, staged);
    }
    // A plain file someone else left there would carry their rights into the installed file.
    if (!IsLauncherMadeFile(staged.handle.get())) {
        DiscardStagingFile(staged);
        return CreateStagingFile(root, relPath, staged);
    }
    LARGE_INTEGER size = {};
    LARGE_INTEGER end = {};
    if (!::GetFileSizeEx(staged.handle.get(), &size) ||
        !::SetFilePointerEx(staged.handle.get(), end, nullptr, FILE_END)) {
        return StepResult::Failed;
    }
    if (static_cast<std::uint64_t>(size.QuadPart) > maxSize)
        return RewindStagingFile(staged) ? StepResult::Done : StepResult::Failed;
    kept = static_cast<std::uint64_t>(size.QuadPart);
    return StepResult::Done;
}

void KeepStagingFile(StagingFile& staged) {
    staged.handle.reset();
}

bool RewindStagingFile(StagingFile& staged) {
    LARGE_INTEGER zero = {};
    return staged.handle && ::SetFilePointerEx(staged.handle.get(), zero, nullptr, FILE_BEGIN) &&
           ::SetEndOfFile(staged.handle.get());
}

std::string StagingFileSha256(StagingFile& staged) {
    LARGE_INTEGER zero = {};
    if (!staged.handle || !::SetFilePointerEx(staged.handle.get(), zero, nullptr, FILE_BEGIN))
        return std::string();
    return Sha256RestOfFileHex(staged.handle.get());
}

StepResult InstallStagingFileUnflushed(StagingFile& staged, const std::wstring& targetRel) {
    if (!staged.handle)
        return StepResult::Failed;
    HANDLE handle = staged.handle.get();
    // Where the file lies was proved through its handle when it was made; now its name must
    // still lead to it and it must still have that one name (under Wine a name swapped from
    // outside shows as a held file with no name left). The target's own name is checked as it
    // is opened below.
    FileFacts facts;
    if (!ReadFacts(handle, facts) || facts.links != 1 ||
        !NameIsHandle(staged.root, staged.relPath, handle) ||
        !AreFoldersPlainBelow(staged.root, targetRel)) {
        return StepResult::Unsafe;
    }
    ReadOnlyTarget target;
    const StepResult opened = target.Open(staged.root, targetRel);
    if (opened != StepResult::Done)
        return opened;
    const std::wstring targetPath = Below(staged.root, targetRel);
    if (!RenameThrough(handle, targetPath, true))
        return StepResult::Failed;
    target.Keep();
    // Whatever happens now, the old file is gone: the staging file must not be deleted with it.
    staged.installed = std::move(staged.handle);
    if (NameIsHandle(staged.root, targetRel, staged.installed.get()))
        return StepResult::Done;
    staged.installed.reset();
    return StepResult::Unsafe;
}

StepResult InstallStagingFile(StagingFile& staged, const std::wstring& targetRel) {
    if (!staged.handle || !::FlushFileBuffers(staged.handle.get()))
        return StepResult::Failed;
    const StepResult moved = InstallStagingFileUnflushed(staged, targetRel);
    staged.installed.reset();
    return moved;
}

namespace {

StepResult MoveBelow(const InstallRoot& root, const std::wstring& fromRel,
                     const std::wstring& toRel, bool replace) {
    if (root.finalPath.empty())
        return StepResult::Failed;
    const UniqueFile file = OpenNoFollow(Below(root, fromRel), DELETE | FILE_READ_ATTRIBUTES);
    if (!file)
        return StepResult::Failed;
    // A name that is replaced is never opened, so only the folders on the way to it matter.
    const bool targetSafe =
        replace ? AreFoldersPlainBelow(root, toRel) : IsPlainPathBelow(root, toRel);
    if (!HandleIsPlainFileAt(file.get(), root, fromRel, false) || !targetSafe)
        return StepResult::Unsafe;
    const std::wstring to = Below(root, toRel);
    if (!RenameThrough(file.get(), to, replace))
        return StepResult::Failed;
    return NameIsHandle(root, toRel, file.get()) ? StepResult::Done : StepResult::Unsafe;
}

}  // namespace

StepResult MoveFileBelow(const InstallRoot& root, const std::wstring& fromRel,
                         const std::wstring& toRel) {
    return MoveBelow(root, fromRel, toRel, false);
}

StepResult MoveFileOverBelow(const InstallRoot& root, const std::wstring& fromRel,
                             const std::wstring& toRel) {
    return MoveBelow(root, fromRel, toRel, true);
}

StepResult RemoveFileBelow(const InstallRoot& root, const std::wstring& relPath) {
    if (root.finalPath.empty())
        return StepResult::Failed;
    const UniqueFile file =
        OpenNoFollow(Below(root, relPath), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES);
    if (!file)
        return NotFound(::GetLastError()) ? StepResult::Done : StepResult::Failed;
    if (!HandleIsPlainFileAt(file.get(), root, relPath, false))
        return StepResult::Unsafe;
    FileFacts facts;
    if (ReadFacts(file.get(), facts) && (facts.attributes & FILE_ATTRIBUTE_READONLY) != 0)
        SetReadOnly(file.get(), facts.attributes, false);
    return DeleteThrough(file.get()) ? StepResult::Done : StepResult::Failed;
}

StepResult WriteRecordBelow(const InstallRoot& root, const std::wstring& relPath,
                            const std::string& bytes) {
    StagingFile staged;
    const StepResult created = CreateStagingFile(root, relPath + L".part", staged);
    if (created != StepResult::Done)
        return created;
    DWORD written = 0;
    if (bytes.size() > 0xFFFFFFFFu ||
        !::WriteFile(staged.handle.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                     nullptr) ||
        written != bytes.size()) {
        return StepResult::Failed;
    }
    return InstallStagingFile(staged, relPath);
}

bool ReadRecordBelow(const InstallRoot& root, const std::wstring& relPath, std::uint64_t maxBytes,
                     std::string& bytes) {
    if (root.finalPath.empty())
        return false;
    const UniqueFile file(::CreateFileW(Below(root, relPath).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT,
                                        nullptr));
    LARGE_INTEGER size = {};
    if (!file || !HandleIsPlainFileAt(file.get(), root, relPath, true) ||
        !IsLauncherMadeFile(file.get()) || !::GetFileSizeEx(file.get(), &size) ||
        static_cast<std::uint64_t>(size.QuadPart) > maxBytes) {
        return false;
    }
    std::string read(static_cast<std::size_t>(size.QuadPart), '\0');
    DWORD got = 0;
    if (!read.empty() &&
        (!::ReadFile(file.get(), &read[0], static_cast<DWORD>(read.size()), &got, nullptr) ||
         got != read.size())) {
        return false;
    }
    bytes.swap(read);
    return true;
}
