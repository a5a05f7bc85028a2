// How an update run ends, and every line the run shows the player: one table gives each end its
// phase and status line, so the texts live here and nowhere else in the run.
#pragma once

#include <string>

#include "patch/patch_status.h"

enum class RunOutcome {
    Going,  // not an end: the next stage follows
    Unreachable,
    NotAuthentic,
    BadList,
    BadPath,
    DownloadError,
    Corrupt,
    InstallFailed,
    Cancelled,
    UpToDate,
    Updated,
};

// A stage's result: Going, or how the run ends, with the file's wide path for the lines that
// name one.
struct RunEnd {
    RunOutcome outcome = RunOutcome::Going;
    std::wstring path;

    bool going() const { return outcome == RunOutcome::Going; }
};

inline RunEnd Going() {
    return RunEnd();
}

inline RunEnd EndWith(RunOutcome outcome, std::wstring path = std::wstring()) {
    return RunEnd{outcome, std::move(path)};
}

// Writes the run's first phase and line.
void BeginRun(PatchStatus& status);

// Writes the end: progress (good ends only), phase, line, and busy last, so a reader that sees
// busy false sees the rest. A failure that a stop can cause (a transfer broken off) ends as
// cancelled when a stop was asked for; this is the one place that decides it.
void EndRun(PatchStatus& status, const RunEnd& end);

// The line of a run thread that ended by an exception (no memory, no thread).
void EndRunUnexpectedly(PatchStatus& status) noexcept;

// "Letöltés (n/m): path", cut to the 127 characters the status line has room for.
std::wstring DownloadStatusLine(int number, int count, const std::wstring& widePath);
