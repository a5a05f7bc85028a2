// One launcher per installation folder: a second one started on the same folder hands over to the
// first and ends, so two update runs never work on one folder at the same time.
#pragma once

#include <windows.h>

#include <string>

#include "platform/kernel_handles.h"

// A private namespace this process made, closed and taken down with its last handle: the folder
// it stands for is free again at once.
inline void DestroyPrivateNamespace(HANDLE space) noexcept {
    ::ClosePrivateNamespace(space, PRIVATE_NAMESPACE_FLAG_DESTROY);
}
using UniqueMadeNamespace = UniqueHandle<ReleasedBy<HANDLE, DestroyPrivateNamespace>>;

// What holds a folder: the folder's own private namespace, which only an administrator can make,
// or where the system makes none, a mutex. Nothing held: the claim was granted unguarded.
struct FolderClaim {
    UniqueMadeNamespace space;
    HeldMutex mutex;
};

// A name for `folder` that every spelling of it shares (case, links, a trailing separator): taken
// from its final path, case folded and hashed. Empty when the folder cannot be opened.
std::wstring InstanceKeyOf(const std::wstring& folder);

// How long a start waits behind a launcher that holds the folder without a window: the holder's
// self-update may run 20 s before its window shows, and a closing holder ends within
// kExitBoundMs of its window (twice that leaves room for its start and Wine's slower close).
extern const DWORD kStartingHolderWaitMs;

// Claims `folder` for this process. False when another launcher holds it: its window (a visible
// "TalvoraPatcher" window of a program in the same folder) has then been brought to the front, and
// this process should end. A holder without a visible window is waited for, at most `waitMs`:
// once its window shows the start hands over, once it ends the claim succeeds. When no guard can
// be made at all, the claim is granted unguarded.
bool ClaimInstallFolder(const std::wstring& folder, FolderClaim& claim,
                        DWORD waitMs = kStartingHolderWaitMs);

bool HoldsFolder(const FolderClaim& claim);

// Lets go of the folder; a launcher waiting for it may have it at once.
void ReleaseFolder(FolderClaim& claim);
