// The one record through which the background patch run reports to the window.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "build_config.h"
#include "net/update_keys.h"

// The numbers are fixed: the window tests them.
enum class PatchPhase : std::int32_t {
    Idle = 0,
    Checking = 1,
    Downloading = 2,
    Verifying = 3,
    UpToDate = 4,
    Updated = 5,
    Failed = 6,
};

struct PatchStatus {
    // Written before the worker exists, read-only afterwards.
    std::wstring installDir;
    std::wstring manifestUrl;
    UpdateKeys updateKeys;  // empty: the manifest is not signed
    // The list and its signature together must arrive within this: a real list of the largest
    // size taken (64 MiB) fits on a 1 Mbit/s line, a trickle does not last for hours.
    std::chrono::milliseconds listDeadline{std::chrono::minutes(10)};
    // The operator's options as built (TALVORA_DOWNLOADS_IN_FLIGHT, TALVORA_DOWNLOAD_RETRIES):
    // how many pending files are fetched at once, and how many tries in a row without progress
    // a transfer may fail in a way that can pass before the run gives up on it.
    int downloadsInFlight = TALVORA_DOWNLOADS_IN_FLIGHT;
    int downloadRetries = TALVORA_DOWNLOAD_RETRIES;
    // TALVORA_QUICK_CHECK: a record of verified files spares a start the files that did not
    // change, and the full check fetches only what differs.
    bool quickCheck = TALVORA_QUICK_CHECK != 0;
    std::thread workerThread;
    std::atomic<bool> busy{false};
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> fullCheck{false};
    std::atomic<PatchPhase> phase{PatchPhase::Idle};
    std::atomic<double> overallProgress{0.0};
    std::atomic<double> fileProgress{0.0};
    std::mutex statusLock;  // guards statusText and nothing else
    std::wstring statusText = L"Készen áll.";
};

// Published by the window thread while the window lives; null before and after.
extern PatchStatus* gPatchStatus;

std::wstring ReadStatusText(PatchStatus& status);
void SetStatusText(PatchStatus& status, std::wstring text);

// Ends a run that stopped because the window asked it to. Phase and text are written before busy
// is cleared, so a reader that sees busy false also sees the final state.
void FinishCancelled(PatchStatus& status);

// True in the two phases after which the game may be started.
bool IsReadyPhase(PatchPhase phase);
