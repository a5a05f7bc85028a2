// Where an entry of the patch manifest lands in the installation and where it is fetched from.
#pragma once

#include <string>

#include "patch/relative_path.h"

// installDir + "\" + the entry's path read lexically (LexicalRelativePath), so the file lies
// inside the folder whatever "." and ".." steps the manifest wrote. Only for a path that passed
// IsSafeRelativePath.
std::wstring LocalPathFor(const std::wstring& installDir, const std::string& relPath);

// Where a download is written until it has been verified.
std::wstring PartPathFor(const std::wstring& localPath);

// baseUrl + widePath as the manifest wrote it: no separator added, nothing escaped.
std::wstring DownloadUrlFor(const std::wstring& baseUrl, const std::wstring& widePath);

// Creates every directory named along `filePath` before its last '\' or '/'. Failures are ignored:
// a directory that could not be made shows up as a download that cannot create its file.
void CreateParentDirectories(const std::wstring& filePath);
