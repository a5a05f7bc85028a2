// Where an entry of the patch manifest lands in the installation and where it is fetched from.
#pragma once

#include <string>

// False for a manifest path that could write outside the installation: empty, rooted ('\' or '/'
// first), with a ':' anywhere (drive letters, alternate streams, device paths), with a control
// character, with a segment of dots only such as "..", or with a segment that names a device
// (CON, NUL, COM1, LPT1.pak and the like).
bool IsSafeRelativePath(const std::wstring& widePath);

// installDir + "\" + widePath, separators left as written.
std::wstring LocalPathFor(const std::wstring& installDir, const std::wstring& widePath);

// Where a download is written until it has been verified.
std::wstring PartPathFor(const std::wstring& localPath);

// baseUrl + widePath as they stand: no separator added, nothing escaped.
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
