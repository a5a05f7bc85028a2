#include "patch/patch_worker.h"

#include "app/unique_handle.h"
#include "build_config.h"
#include "net/file_hash.h"
#include "net/http_client.h"
#include "net/text_conversion.h"
#include "net/update_signature.h"
#include "patch/block_patch.h"
#include "patch/check_pass.h"
#include "patch/install_paths.h"
#include "patch/install_step.h"
#include "patch/manifest.h"
#include "patch/staging.h"

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <system_error>
#include <utility>
#include <vector>

namespace {

constexpr size_t kStatusLineUnits = 128;  // terminator included
const wchar_t kBadList[] = L"Hibás frissítési lista a szerveren.";
const wchar_t kBadPath[] = L"Hibás fájlútvonal a frissítési listában: ";

// Every end of a run writes in this order, so a reader that sees busy false sees the rest.
void EndRun(PatchStatus& status, PatchPhase phase, std::wstring text) {
    status.phase.store(phase);
    SetStatusText(status, std::move(text));
    status.busy.store(false);
}

void EndGood(PatchStatus& status, PatchPhase phase, std::wstring text) {
    status.overallProgress.store(1.0);
    EndRun(status, phase, std::move(text));
}

double Fraction(std::uint64_t part, std::uint64_t whole) {
    return whole == 0 ? 0.0 : static_cast<double>(part) / static_cast<double>(whole);
}

}  // namespace

std::wstring ManifestUrl() {
    return TALVORA_PATCH_SERVER L"/pack/patch_manifest.txt";
}

std::wstring DownloadStatusLine(int number, int count, const std::wstring& widePath) {
    std::wstring line =
        L"Letöltés (" + std::to_wstring(number) + L"/" + std::to_wstring(count) + L"): " + widePath;
    if (line.size() > kStatusLineUnits - 1)
        line.resize(kStatusLineUnits - 1);
    return line;
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
        status.phase.store(PatchPhase::Failed);
        try {
            SetStatusText(status, L"Váratlan hiba történt a frissítés közben.");
        } catch (...) {
        }
        status.busy.store(false);
    }
}

void PatchWorker(PatchStatus& status) {
    status.phase.store(PatchPhase::Checking);
    SetStatusText(status, L"Frissítések keresése...");
    status.overallProgress.store(0.0);

    const CancelPredicate cancel = [&status] { return status.stopRequested.load(); };
    const auto listDeadline = std::chrono::steady_clock::now() + status.listDeadline;
    const CancelPredicate listCancel = [&status, listDeadline] {
        return status.stopRequested.load() || std::chrono::steady_clock::now() >= listDeadline;
    };
    std::string body;
    if (!HttpGetText(status.manifestUrl, body, listCancel)) {
        if (status.stopRequested.load()) {
            FinishCancelled(status);
            return;
        }
        EndRun(status, PatchPhase::Failed,
               L"Nem sikerült elérni a frissítőszervert. Ellenőrizd az internetet.");
        return;
    }
    // Checked over the bytes as received, before any of them is interpreted.
    if (!IsAuthenticUpdateFile(status.manifestUrl, body, status.updateKeys, listCancel)) {
        if (status.stopRequested.load()) {
            FinishCancelled(status);
            return;
        }
        EndRun(status, PatchPhase::Failed, L"A frissítési lista hitelesítése sikertelen.");
        return;
    }
    PatchManifest manifest;
    if (!ParsePatchManifest(body, manifest.baseUrl, manifest.entries)) {
        EndRun(status, PatchPhase::Failed, kBadList);
        return;
    }
    body = std::string();

    // The whole list is judged before anything is written or fetched.
    for (const ManifestEntry& entry : manifest.entries) {
        if (!IsSafeRelativePath(entry.relPath)) {
            EndRun(status, PatchPhase::Failed, kBadPath + Utf8ToWide(entry.relPath));
            return;
        }
    }
    if (EntriesCollide(manifest.entries)) {
        EndRun(status, PatchPhase::Failed, kBadList);
        return;
    }
    RemoveLeftoverStaging(status.installDir, manifest.entries);

    const bool fullCheck = status.fullCheck.load();
    std::vector<ManifestEntry> pending;
    if (!RunCheckPass(status.installDir, manifest.entries, fullCheck, status.stopRequested,
                      CheckPassThreads(status.installDir), pending)) {
        FinishCancelled(status);
        return;
    }
    std::uint64_t runTotalBytes = 0;
    for (const ManifestEntry& entry : pending)
        runTotalBytes += entry.size;

    if (pending.empty()) {
        EndGood(status, PatchPhase::UpToDate, L"A játék naprakész. Indíthatod!");
        return;
    }

    status.phase.store(PatchPhase::Downloading);
    std::uint64_t doneBytes = 0;
    const int count = static_cast<int>(pending.size());
    for (int index = 0; index < count; ++index) {
        const ManifestEntry& entry = pending[static_cast<size_t>(index)];
        if (status.stopRequested.load()) {
            FinishCancelled(status);
            return;
        }
        const std::wstring widePath = Utf8ToWide(entry.relPath);
        const std::wstring targetRel = InstallRelative(entry.relPath);
        // An elevated process must never write through a link that someone planted below the
        // installation.
        if (!EntryPathsArePlain(status.installDir, entry.relPath)) {
            EndRun(status, PatchPhase::Failed, kBadPath + widePath);
            return;
        }
        CreateParentDirectories(LocalPathFor(status.installDir, entry.relPath));
        // Created here, held until it is installed or dropped, and written only through its
        // handle: a name swapped meanwhile leads nowhere.
        StagingFile staged;
        const StepResult created =
            CreateStagingFile(status.installDir, PartPathFor(targetRel), staged);
        if (created != StepResult::Done) {
            EndRun(status, PatchPhase::Failed,
                   (created == StepResult::Unsafe ? kBadPath : L"Letöltési hiba: ") + widePath);
            return;
        }
        SetStatusText(status, DownloadStatusLine(index + 1, count, widePath));

        const std::wstring url = DownloadUrlFor(manifest.baseUrl, widePath);
        const ProgressCallback progress = [&status, doneBytes, runTotalBytes](std::uint64_t done,
                                                                              std::uint64_t total) {
            status.overallProgress.store(Fraction(doneBytes + done, runTotalBytes));
            status.fileProgress.store(Fraction(done, total));
        };
        // A changed local copy of a BLOCKS entry is patched by fetching only what it lacks; any
        // failure on that road leaves the whole download, capped at the entry's size.
        std::string writtenSha256;
        const bool downloaded =
            (entry.blocks && !fullCheck &&
             PatchByBlocks(url, LocalPathFor(status.installDir, entry.relPath), staged.handle.get(),
                           entry, cancel, progress, writtenSha256)) ||
            (RewindStagingFile(staged) &&
             HttpDownloadFile(url, staged.handle.get(), cancel, progress, entry.size));
        if (!downloaded) {
            DiscardStagingFile(staged);
            if (status.stopRequested.load()) {
                FinishCancelled(status);
            } else {
                EndRun(status, PatchPhase::Failed, L"Letöltési hiba: " + widePath);
            }
            return;
        }

        status.phase.store(PatchPhase::Verifying);
        // A file built from blocks was hashed as it was written; anything else is read again,
        // through the handle it was written through.
        if ((writtenSha256.empty() ? StagingFileSha256(staged) : writtenSha256) != entry.sha256) {
            DiscardStagingFile(staged);
            EndRun(status, PatchPhase::Failed, L"Sérült letöltés (hash nem egyezik): " + widePath);
            return;
        }

        // One step, so there is no moment without a target; a target held open by a running
        // game makes it fail, and that must not pass for an installed file. A read-only target
        // (copied from a disc, or marked so by an older installer) is replaced all the same.
        status.phase.store(PatchPhase::Downloading);
        const StepResult installed = InstallStagingFile(staged, targetRel);
        if (installed != StepResult::Done) {
            DiscardStagingFile(staged);
            EndRun(status, PatchPhase::Failed,
                   (installed == StepResult::Unsafe ? kBadPath : L"Nem sikerült telepíteni: ") +
                       widePath);
            return;
        }
        doneBytes += entry.size;
        status.overallProgress.store(runTotalBytes == 0 ? 1.0 : Fraction(doneBytes, runTotalBytes));
    }

    EndGood(status, PatchPhase::Updated, L"Frissítés kész. Indíthatod a játékot!");
}
