// The road of one file: staged below a folder, fetched (by blocks, continued, or whole), verified
// and installed. The update run sends every pending file down it in manifest order, one or several
// in flight; the self-update sends the new launcher down it and installs it by its own swap.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "patch/patch_status.h"
#include "net/http_client.h"
#include "patch/install_step.h"
#include "patch/manifest.h"
#include "patch/run_outcome.h"

// What every file on one road shares.
struct FileRoad {
    const HttpSession& session;
    InstallRoot root;  // the folder's final path is taken once: every check compares with it
    int retries = 0;
    bool continueKept = false;  // a staging file an earlier run kept is continued
    bool byBlocks = false;      // a changed BLOCKS entry is patched from its local copy
    CancelPredicate cancel;
};

// One file on its way.
struct FileJob {
    std::wstring url;
    std::wstring widePath;    // the path as the list wrote it, as the status lines show it
    std::wstring targetRel;   // below the root, '\' between names
    std::wstring stagingRel;  // likewise
    std::uint64_t size = 0;
    bool exactSize = true;  // false: `size` is only a cap
    std::string sha256;
    const ManifestEntry* entry = nullptr;  // for block patching; null for any other file
    std::wstring copyUrl{};                // the file's compressed copy, when the list names one
    std::uint64_t copySize = 0;
    TryBudget budget{};  // what all its fetches may spend together
    StagingFile staged{};
    std::uint64_t kept = 0;       // bytes an earlier run left in the staging file, continued
    std::string writtenSha256{};  // known when the file was hashed as it was written
};

// Stages the file (its folders made where missing) and fetches it into the staging file: by blocks
// from its local copy, from its compressed copy, or whole; a staging file kept by an earlier run
// is continued from the file itself. A file continued that turns out wrong is fetched once more
// from its first byte.
RunEnd StageAndFetch(const FileRoad& road, FileJob& job, const ProgressCallback& progress);

// Compares the fetched file's SHA-256 with the one it must have.
RunEnd VerifyStaged(FileJob& job);

// Updated when every pending file is installed; otherwise the end of the first file that failed
// in manifest order (files before it stay installed, nothing of it or after it is left behind but
// staging files kept to be continued) or Cancelled.
RunEnd UpdateFiles(PatchStatus& status, const HttpSession& session, const PatchManifest& manifest,
                   const std::vector<ManifestEntry>& pending);
