// The background update run: manifest, check pass, downloads, verification, install.
#pragma once

#include <string>

#include "app/patch_status.h"

// The patch server's manifest, built into the program.
std::wstring ManifestUrl();

// Window thread only. Starts a run on a new thread unless one is running; a finished earlier
// thread is joined first. If no thread can be created, busy is cleared and nothing else changes.
void StartPatchRun(PatchStatus& status, bool fullCheck);

// Body of the worker thread: one PatchWorker run; nothing escapes from it.
void PatchThreadMain(PatchStatus& status);

// One whole run against status.manifestUrl into status.installDir. Reports only through the record
// and clears busy as its last write.
void PatchWorker(PatchStatus& status);

// "Letöltés (n/m): path", cut to the 127 characters the status line has room for.
std::wstring DownloadStatusLine(int number, int count, const std::wstring& widePath);
