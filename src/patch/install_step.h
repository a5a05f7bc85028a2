// The one way the launcher writes below a folder it installs into (the game's folder, or its own
// folder for a self-update). A name below the folder can be swapped for a link at any moment by
// anyone who may write there; a handle cannot. So a staging file is one the launcher created
// itself, checked through its open handle, written only through that handle, and moved into place
// while it is still held. Nothing here deletes, moves or writes through a name that is not ours.
#pragma once

#include <cstdint>
#include <string>

#include "platform/kernel_handles.h"
#include "patch/install_paths.h"

enum class StepResult {
    Done,
    // Something the launcher did not make stands at a name it needs: a link, a file with other
    // names, or its own file found anywhere but where it was put. The caller reports a bad path.
    Unsafe,
    // The system refused: no space, no right, a file held open by someone else.
    Failed,
};

// A staging file being written. `handle` has read, write and delete access and shares nothing
// (on Windows no other process can open, rename or delete it while it is held). Dropped with its
// handle still set, the file is deleted through the handle, so every path that gives up removes
// it; an installed file no longer has one.
struct StagingFile {
    UniqueFile handle;
    InstallRoot root;      // the folder everything stays below
    std::wstring relPath;  // below root, '\' between names
    // After InstallStagingFileUnflushed: the installed file, held until the caller has flushed
    // it. Dropping it only closes it.
    UniqueFile installed;

    StagingFile() = default;
    StagingFile(const StagingFile&) = delete;
    StagingFile& operator=(const StagingFile&) = delete;
    ~StagingFile();
};

// Makes a new, empty staging file at root + "\" + relPath (folders above it must exist). A plain
// file already there (an earlier run's) is replaced; a link or anything that is not ours is not
// touched and gives Unsafe.
StepResult CreateStagingFile(const InstallRoot& root, const std::wstring& relPath,
                             StagingFile& staged);

// Opens the staging file an earlier run left at root + "\" + relPath to be continued, when it is a
// plain file at that very name with one link, made by the launcher (IsLauncherMadeFile), and of
// at most `maxSize` bytes (`kept` is its size, and the position is at its end); a larger one is
// emptied. A plain file that is not the launcher's is deleted through its handle and, as without
// one, a new one is made as CreateStagingFile does. A link gives Unsafe.
StepResult AdoptStagingFile(const InstallRoot& root, const std::wstring& relPath,
                            std::uint64_t maxSize, StagingFile& staged, std::uint64_t& kept);

// Deletes the staging file through its handle now (as dropping it would).
void DiscardStagingFile(StagingFile& staged);

// Closes the staging file and leaves it where it is, for a later run to continue.
void KeepStagingFile(StagingFile& staged);

// Empties the staging file and puts its position at 0, for a second attempt into the same file.
bool RewindStagingFile(StagingFile& staged);

// The lower-case hex SHA-256 of what the staging file holds, read through its handle; empty when
// it cannot be read.
std::string StagingFileSha256(StagingFile& staged);

// Flushes the staging file and moves it to root + "\" + targetRel (same folder or below root),
// replacing a file there, a read-only one included. Before the move the staging name must still
// be this file and the target's folders must be plain; after it the target name must be this file.
// On Done the handle is closed and the file stays; otherwise the staging file is still held.
StepResult InstallStagingFile(StagingFile& staged, const std::wstring& targetRel);

// The same move with every check, without the flush: on Done `staged.installed` holds the
// installed file, so that the caller can flush it together with others (a flush waits for the
// whole disk's queue) before it reports the file in place.
StepResult InstallStagingFileUnflushed(StagingFile& staged, const std::wstring& targetRel);

// Renames root + "\" + fromRel to toRel below root (no replacing), holding the file while it
// moves. For a file that is not being written (a launcher that is running, for instance).
StepResult MoveFileBelow(const InstallRoot& root, const std::wstring& fromRel,
                         const std::wstring& toRel);

// The same, replacing whatever holds the name toRel: a link there is replaced itself, never
// followed. For putting a launcher back under its own name, whatever took the name meanwhile.
StepResult MoveFileOverBelow(const InstallRoot& root, const std::wstring& fromRel,
                             const std::wstring& toRel);

// Deletes root + "\" + relPath through a handle when it is a plain file at that name; Done also
// when nothing is there. A link is never followed, so what it points to is never deleted.
StepResult RemoveFileBelow(const InstallRoot& root, const std::wstring& relPath);

// A record of the launcher's own below root (what it must remember from run to run): written
// whole through a staging file moved into place, and read only when the file at that name is
// plain, has one link, is the launcher's own (IsLauncherMadeFile) and holds at most `maxBytes`.
// Anything else reads as no record.
StepResult WriteRecordBelow(const InstallRoot& root, const std::wstring& relPath,
                            const std::string& bytes);
bool ReadRecordBelow(const InstallRoot& root, const std::wstring& relPath, std::uint64_t maxBytes,
                     std::string& bytes);
