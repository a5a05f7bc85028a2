// Where downloads wait until they are verified, and which lists would make two entries meet on
// disk.
#pragma once

#include <string>
#include <vector>

#include "patch/install_paths.h"
#include "patch/manifest.h"

// True when two entries would share a file on disk (by CollisionKey): the same file twice, one
// entry's staging (".part") file being another entry or its folder, or a file that another entry
// needs as a folder. Such a list could never end with every file in place.
bool EntriesCollide(const std::vector<ManifestEntry>& entries);

// True when neither the entry's file, nor its staging file, nor a folder above them is reached
// through a link (see IsPlainPathBelow). For a path that passed IsSafeRelativePath.
bool EntryPathsArePlain(const InstallRoot& root, const std::string& relPath);

// The entry's file below the installation as the file system sees it: steps applied, '\' between
// names.
std::wstring InstallRelative(const std::string& relPath);

// Deletes the staging files that a killed run left behind for these entries (paths that passed
// IsSafeRelativePath). Only plain files at their own names are deleted, through a handle.
void RemoveLeftoverStaging(const InstallRoot& root, const std::vector<ManifestEntry>& entries);
