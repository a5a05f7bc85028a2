// The end of the launcher is bounded: once its window is gone the player cannot see it any more,
// and a process that lingered would still hold the folder against the next start.
#pragma once

#include <windows.h>

#include "patch/patch_status.h"

// How long the window's destruction waits for the update run to stop by itself. Every step of a
// run looks at the stop request at least once a megabyte or 50 ms; this is for the ones that
// cannot (a hash of a huge download, a read from a disk that hangs).
constexpr DWORD kRunStopMs = 3000;
// From the window's destruction to the end of the process, whatever is still running by then.
constexpr DWORD kExitBoundMs = 5000;
// The exit code of a process that had to be ended without waiting for everything it started.
constexpr int kForcedExitCode = 2;

// Set by the window's destruction when the run did not stop within kRunStopMs: its thread still
// uses the status record, which is therefore left alive, and the process must end without
// waiting for it. Window thread only.
extern bool gRunAbandoned;

// Asks the run to stop and waits at most `graceMs` for it. True when it ended and its thread was
// joined. False when it is still going: its thread is then detached and keeps `status`, which the
// caller must not free.
bool StopPatchRun(PatchStatus& status, DWORD graceMs);

// Starts the thread that enforces kExitBoundMs. It is made while nothing else runs, because a
// thread started later could wait behind a lock that a stuck thread holds. Without it the
// countdown does nothing (a test program that makes windows of its own).
void ArmExitGuard();

// From now on the process ends within kExitBoundMs, with kForcedExitCode if it has not ended
// by itself.
void StartExitCountdown();

// Ends the process at once with kForcedExitCode: no clean-up, no waiting for any thread.
[[noreturn]] void ForceExit();
