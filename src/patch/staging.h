// Where downloads wait until they are verified, and which lists would make two entries meet on
// disk.
#pragma once

#include <string>
#include <vector>

#include "patch/install_paths.h"
#include "patch/manifest.h"

// True when two entries would share a file on disk (by CollisionKey): the same file twice, one
// entry's staging (".part") file being another entry or its folder, or a file that another entry
// needs as a folder. Such a list could never end with every file in place. `reserved` names files
// the launcher keeps for itself (its records), which count as entries of the list.
bool EntriesCollide(const std::vector<ManifestEntry>& entries,
                    const std::vector<std::string>& reserved = {});

// Deletes the staging files that a killed run left behind for these entries (paths that passed
// IsSafeRelativePath). Only plain files at their own names are deleted, through a handle.
void RemoveLeftoverStaging(const InstallRoot& root, const std::vector<ManifestEntry>& entries);
// The same for the entries at `indexes` only (a listing showed their staging files).
void RemoveLeftoverStaging(const InstallRoot& root, const std::vector<ManifestEntry>& entries,
                           const std::vector<std::size_t>& indexes);

// Where a run that may keep staging files (with retries) writes down, before it fetches, the
// entries whose staging files it may leave: a record of the launcher's own below the folder.
extern const char kKeptPartsRecord[];

// With retries a staging file is kept for the next run to continue. After the check pass, every
// staging file that no pending entry needs goes: those of listed entries that are in place, and
// those the record names for entries the list no longer has (a server may choose new names every
// run). Then the record names the pending entries, or goes when there are none. So no more is
// ever kept than the pending files need. Entries' paths must be known to be safe.
void SettleKeptParts(const InstallRoot& root, const std::vector<ManifestEntry>& entries,
                     const std::vector<ManifestEntry>& pending);
