// Where an entry of the patch manifest lands in the installation and where it is fetched from.
#pragma once

#include <windows.h>

#include <string>

#include "portable/patch/relative_path.h"

// The entry's path below the installation as the file system sees it: read lexically
// (LexicalRelativePath), so the file lies inside the folder whatever "." and ".." steps the
// manifest wrote, with '\' between names. Only for a path that passed IsSafeRelativePath.
std::wstring InstallRelative(const std::string& relPath);

// installDir + "\" + InstallRelative(relPath): the entry's file.
std::wstring LocalPathFor(const std::wstring& installDir, const std::string& relPath);

// Where a download is written until it has been verified (StagingPathOf, for a path of a file).
std::wstring PartPathFor(const std::wstring& filePath);

// baseUrl + widePath as the manifest wrote it: no separator added, nothing escaped.
std::wstring DownloadUrlFor(const std::wstring& baseUrl, const std::wstring& widePath);

// The folder or file that `path` finally resolves to, links followed ("\\?\C:\..." form); empty
// when it cannot be opened.
std::wstring FinalPathOf(const std::wstring& path);
// The same for an open handle.
std::wstring FinalPathOfHandle(HANDLE handle);

// A folder the launcher installs into, with its final path taken once, so that every check below
// it compares against the same name.
struct InstallRoot {
    std::wstring path;
    std::wstring finalPath;  // empty when the folder cannot be opened
};
InstallRoot OpenInstallRoot(const std::wstring& path);

// True when `finalPath` is exactly the root's final path followed by the names of `relPath`
// (case and the trailing dots and spaces Windows ignores aside); a `relPath` without names stands
// for the root itself.
bool IsFinalPathOf(const std::wstring& finalPath, const InstallRoot& root,
                   const std::wstring& relPath);

// False when some existing part of the root + "\" + widePath is a link of any kind: a folder that
// is a reparse point (junction, symbolic link, mount point), or a last name that resolves anywhere
// but to itself at that path (Wine marks no link to a file; a final path that lies elsewhere shows
// it). Also false when an existing part cannot be examined. Parts that do not exist yet are fine:
// whatever makes them later makes plain ones.
bool IsPlainPathBelow(const InstallRoot& root, const std::wstring& widePath);

// Only the last name of widePath, for a sibling of a path whose folders were just checked.
bool IsPlainLeafBelow(const InstallRoot& root, const std::wstring& widePath);

// Only the folders above the last name of widePath: none a reparse point.
bool AreFoldersPlainBelow(const InstallRoot& root, const std::wstring& widePath);

// Creates every directory named along `filePath` before its last '\' or '/'. Failures are ignored:
// a directory that could not be made shows up as a download that cannot create its file.
void CreateParentDirectories(const std::wstring& filePath);
