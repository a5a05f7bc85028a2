// Replacing the running launcher with a newer published build before anything is shown.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "net/update_keys.h"
#include "patch/install_step.h"

extern const std::int32_t CurrentLauncherVersion;

// The update runs before any window exists; past this the player gets the window without it.
constexpr std::chrono::seconds kSelfUpdateDeadline{20};

// The patch server's version file.
std::wstring LauncherVersionUrl();

// Checks the server and, when a newer launcher is published, installs it, starts it and ends
// this process. Returns (silently) whenever no update was made.
void RunSelfUpdate();

// The same against any version file, version number and keys (the tests' probe programs use it).
void RunSelfUpdateFrom(const std::wstring& versionUrl, std::int32_t currentVersion,
                       const UpdateKeys& keys);

// Fetch, verify and swap, without starting anything: true when the new build now lies at
// `exePath` and the previous one at `exePath` + ".old". With `keys`, a version file whose
// signature does not verify is taken as no update. The new build is written only through the
// handle of the ".new" file it created. Every failure leaves `exePath` in place and no ".new"
// file behind.
bool InstallNewerLauncher(const std::wstring& versionUrl, std::int32_t currentVersion,
                          const UpdateKeys& keys, const std::wstring& exePath);

// The swap alone: `exePath` to ".old", the verified staging file (`exePath` + ".new") into place;
// on failure the old build goes back and the staging file is still the caller's.
bool SwapInNewLauncher(const std::wstring& exePath, StagingFile& staged);

// Undoes a completed swap (the new build could not be started): the previous build goes back
// under its own name and the new one is removed.
void RollBackLauncherSwap(const std::wstring& exePath);

// Deletes the copy that a completed swap left at exePath + ".old", unless that name is a link
// (under Wine, deleting a link to a file deletes the file it points to).
void RemoveOldLauncherCopy(const std::wstring& exePath);
