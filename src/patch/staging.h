// Where downloads wait until they are verified, and which lists would make two entries meet on
// disk.
#pragma once

#include <string>
#include <vector>

#include "patch/manifest.h"

// True when two entries would share a file on disk (by CollisionKey): the same file twice, one
// entry's staging (".part") file being another entry or its folder, or a file that another entry
// needs as a folder. Such a list could never end with every file in place.
bool EntriesCollide(const std::vector<ManifestEntry>& entries);

// True when neither the entry's file, nor its staging file, nor a folder above them is reached
// through a link (see IsPlainPathBelow). For a path that passed IsSafeRelativePath.
bool EntryPathsArePlain(const std::wstring& installDir, const std::string& relPath);

// Replaces whatever stands at `partPath` with a new empty file of our own, so a download never
// writes into an old name: a hard link shares its content with a file elsewhere, and under Wine a
// dangling link is invisible yet written through. False when no new file could be made there;
// `somethingInTheWay` then tells a name that could not be cleared from any other failure.
bool MakeFreshStagingFile(const std::wstring& partPath, bool& somethingInTheWay);

// Deletes the staging files that a killed run left behind for these entries (paths that passed
// IsSafeRelativePath). Only plain files reached without passing a link are deleted.
void RemoveLeftoverStaging(const std::wstring& installDir,
                           const std::vector<ManifestEntry>& entries);
