// One launcher per installation folder: a second one started on the same folder hands over to the
// first and ends, so two update runs never work on one folder at the same time.
#pragma once

#include <windows.h>

#include <string>

#include "app/shutdown.h"
#include "net/kernel_handles.h"

// A name for `folder` that every spelling of it shares (case, links, a trailing separator): taken
// from its final path, case folded and hashed. Empty when the folder cannot be opened.
std::wstring InstanceKeyOf(const std::wstring& folder);

// Claims `folder` for this process. False when another launcher holds it: its window (a visible
// "TalvoraPatcher" window of a program in the same folder) has then been brought to the front, and
// this process should end. A holder without a visible window is waited for at most `waitMs`: one
// whose window has gone ends within a few seconds and the claim then succeeds, one ending after
// its self-update hands over, and one still starting keeps the folder. When no guard can be made
// at all, the claim is granted unguarded.
bool ClaimInstallFolder(const std::wstring& folder, HeldMutex& guard,
                        DWORD waitMs = 2 * kExitBoundMs);
