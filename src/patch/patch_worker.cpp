#include "patch/patch_worker.h"

#include <functional>
#include <system_error>
#include <vector>

#include "build_config.h"
#include "patch/file_updates.h"
#include "patch/update_list.h"

std::wstring ManifestUrl() {
    return TALVORA_PATCH_SERVER L"/pack/patch_manifest.txt";
}

void StartPatchRun(PatchStatus& status, bool fullCheck) {
    if (status.busy.exchange(true))
        return;
    status.stopRequested.store(false);
    status.fullCheck.store(fullCheck);
    // The earlier run cleared busy as its last step; this only waits for its thread to return.
    if (status.workerThread.joinable())
        status.workerThread.join();
    // std::thread reports a failed creation only by throwing (system_error, or bad_alloc), and
    // nothing may unwind through the window procedure; nobody else would clear busy.
    try {
        status.workerThread = std::thread(PatchThreadMain, std::ref(status));
    } catch (...) {
        status.busy.store(false);
    }
}

void PatchThreadMain(PatchStatus& status) {
    // An exception leaving a thread ends the process; a run that cannot go on ends as failed.
    try {
        PatchWorker(status);
    } catch (...) {
        EndRunUnexpectedly(status);
    }
}

void PatchWorker(PatchStatus& status) {
    BeginRun(status);
    // One session for the whole run, so its connections are kept alive from request to request.
    const HttpSession session = HttpSession::Open();
    PatchManifest manifest;
    std::vector<ManifestEntry> pending;
    RunEnd end = FetchList(status, session, manifest);
    if (end.going())
        end = JudgeList(status, manifest);
    if (end.going())
        end = FindPending(status, manifest, pending);
    if (end.going())
        end = UpdateFiles(status, session, manifest, pending);
    EndRun(status, end);
}
