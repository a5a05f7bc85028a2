// Where an entry of the patch manifest lands in the installation and where it is fetched from.
#pragma once

#include <string>

#include "portable/patch/relative_path.h"

// installDir + "\" + the entry's path read lexically (LexicalRelativePath), so the file lies
// inside the folder whatever "." and ".." steps the manifest wrote. Only for a path that passed
// IsSafeRelativePath.
std::wstring LocalPathFor(const std::wstring& installDir, const std::string& relPath);

// Where a download is written until it has been verified (StagingPathOf, for a local path).
std::wstring PartPathFor(const std::wstring& localPath);

// baseUrl + widePath as the manifest wrote it: no separator added, nothing escaped.
std::wstring DownloadUrlFor(const std::wstring& baseUrl, const std::wstring& widePath);

// The folder or file that `path` finally resolves to, links followed ("\\?\C:\..." form); empty
// when it cannot be opened.
std::wstring FinalPathOf(const std::wstring& path);

// False when some existing part of installDir + "\" + widePath is a link of any kind: a reparse
// point (junction, symbolic link, mount point), or a name that resolves anywhere but to itself
// inside the folder above it. Also false when an existing part cannot be examined. Parts that do
// not exist yet are fine: whatever makes them later makes plain ones.
bool IsPlainPathBelow(const std::wstring& installDir, const std::wstring& widePath);

// Creates every directory named along `filePath` before its last '\' or '/'. Failures are ignored:
// a directory that could not be made shows up as a download that cannot create its file.
void CreateParentDirectories(const std::wstring& filePath);
