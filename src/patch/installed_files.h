// The files a run has moved into place, held open until they are flushed together. A flush waits
// for the whole disk's queue, so one flush for each file costs a busy disk's wait per file; a run
// flushes its files in batches instead, several at once and beside the run's own work, and
// reports no file in place (the run's end, the record of verified files) before its data is on
// the disk. A power cut in between leaves files that the next start's check pass hashes and
// repairs.
#pragma once

#include <string>
#include <thread>
#include <vector>

#include "platform/kernel_handles.h"
#include "patch/file_updates.h"
#include "patch/run_outcome.h"
#include "portable/patch/verified_record.h"

struct HeldFiles {
    std::vector<UniqueFile> files{};      // moved into place, not flushed yet
    std::vector<std::wstring> paths{};    // their paths as the player reads them
    std::vector<VerifiedFile> entries{};  // their manifest paths and digests
};

struct InstalledFiles {
    bool keepStates = false;  // for the record of verified files (quick check)
    HeldFiles held{};
    HeldFiles flushing{};  // a full batch, flushed by `flusher` while the run goes on
    std::thread flusher{};
    RunEnd flushEnd{};  // how that flush ended: Going, or InstallFailed
    // The files whose data is on the disk; with `keepStates` each with its state as its handle
    // gave it after the flush, and an empty one (change time 0) when that could not be read.
    std::vector<VerifiedFile> flushed{};

    ~InstalledFiles();
};

// Takes the installed file of `job` (InstallStagingFileUnflushed) into the batch; a full batch is
// flushed on a thread of its own once the one before it is done. Going, or InstallFailed naming
// a file whose flush failed.
RunEnd HoldInstalled(InstalledFiles& files, FileJob& job);

// Flushes every file still held. `end` when all went well; InstallFailed naming the first file
// that could not be flushed when `end` was a good one.
RunEnd FlushInstalled(InstalledFiles& files, const RunEnd& end);
