// The states of files below the installation (size, times, id: FileState), read without opening
// them one by one: one listing of a folder gives the states of all its files, so a start that
// looks at ten thousand files opens their folders, not each file.
#pragma once

#include <windows.h>

#include <atomic>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "patch/install_paths.h"
#include "portable/patch/verified_record.h"

struct ListedFile {
    std::wstring name;
    FileState state;
};

// The plain files of root + "\" + folderRel (empty: the root itself), when that folder is a
// plain one at that very path (opened without following a link): folders, links and other
// reparse points among its names are left out. False when it cannot be listed, holds more than
// `maxNames` names, or `stop` turned true.
bool ListFolderBelow(const InstallRoot& root, const std::wstring& folderRel, std::size_t maxNames,
                     const std::atomic<bool>& stop, std::vector<ListedFile>& files);

// The file's number on its volume (64 bits); two handles that give the same number on one volume
// hold the same file.
bool ReadFileIndex(HANDLE file, std::uint64_t& index);

// The state of an open file as its handle gives it; false also when it has more than one name
// (another name could change it unseen by the listing of this one's folder). The id is the 64-bit
// number, as NTFS and Wine list it, or with `wideId` the 128-bit id that ReFS lists.
bool ReadSingleLinkState(HANDLE file, FileState& state, bool wideId = false);

// A name as the listing's lookups compare it: Windows takes two names for one file regardless
// of case.
std::wstring NameKey(const std::wstring& name);

// Names below the root by folder: for each folder, each wanted name and the index the caller gave
// it.
using NamesByFolder = std::map<std::wstring, std::vector<std::pair<std::wstring, std::size_t>>>;
void AddName(NamesByFolder& folders, const std::wstring& relPath, std::size_t index);

// Lists one folder and gives the index and state of each wanted name that is a plain file there,
// its case aside; a name that two files answer to in other cases than its own (their names differ
// in case only, as Wine allows) gives none.
// A folder fuller than the wanted names and the player's own files beside them is not listed.
// False when the folder cannot be listed.
bool FindNames(const InstallRoot& root, const std::wstring& folder,
               const std::vector<std::pair<std::wstring, std::size_t>>& wanted,
               const std::atomic<bool>& stop,
               std::vector<std::pair<std::size_t, FileState>>& found);
