// The background update run: manifest, check pass, downloads, verification, install.
#pragma once

#include <string>

#include "patch/patch_status.h"
#include "patch/run_outcome.h"

// The patch server's manifest, built into the program.
std::wstring ManifestUrl();

// Window thread only. Starts a run on a new thread unless one is running; a finished earlier
// thread is joined first. If no thread can be created, busy is cleared and nothing else changes.
void StartPatchRun(PatchStatus& status, bool fullCheck);

// Body of the worker thread: one PatchWorker run; nothing escapes from it.
void PatchThreadMain(PatchStatus& status);

// One whole run against status.manifestUrl into status.installDir, in stages: fetch and
// authenticate the list, judge it, the check pass, then fetch, verify and install each pending
// file. Each stage returns Going or the run's end; reports only through the record and clears
// busy as its last write.
void PatchWorker(PatchStatus& status);
