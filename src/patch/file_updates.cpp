#include "patch/file_updates.h"

#include <cstdint>
#include <string>

#include "net/http_client.h"
#include "net/text_conversion.h"
#include "patch/block_patch.h"
#include "patch/install_paths.h"
#include "patch/install_step.h"
#include "patch/staging.h"
#include "portable/net/hex_digest.h"
#include "portable/net/sha256.h"

namespace {

double Fraction(std::uint64_t part, std::uint64_t whole) {
    return whole == 0 ? 0.0 : static_cast<double>(part) / static_cast<double>(whole);
}

// One pending file on its way: where it goes, and its staging file once made.
struct FileJob {
    const ManifestEntry& entry;
    std::wstring widePath;
    std::wstring targetRel;  // below the installation, '\' between names
    StagingFile staged;
    std::string writtenSha256;  // known when the file was hashed as it was written

    explicit FileJob(const ManifestEntry& e)
        : entry(e), widePath(Utf8ToWide(e.relPath)), targetRel(InstallRelative(e.relPath)) {}
};

// An elevated process must never write through a link that someone planted below the
// installation: the staging file is created here, held until it is installed or dropped, and
// written only through its handle, so a name swapped meanwhile leads nowhere.
RunEnd Stage(const InstallRoot& root, FileJob& job) {
    if (!EntryPathsArePlain(root, job.entry.relPath))
        return EndWith(RunOutcome::BadPath, job.widePath);
    CreateParentDirectories(LocalPathFor(root.path, job.entry.relPath));
    const StepResult created = CreateStagingFile(root, PartPathFor(job.targetRel), job.staged);
    if (created == StepResult::Done)
        return Going();
    return EndWith(created == StepResult::Unsafe ? RunOutcome::BadPath : RunOutcome::DownloadError,
                   job.widePath);
}

// A changed local copy of a BLOCKS entry is patched by fetching only what it lacks; any failure
// on that road leaves the whole download, capped at the entry's size.
RunEnd Fetch(const PatchStatus& status, const HttpSession& session, const PatchManifest& manifest,
             FileJob& job, const ProgressCallback& progress) {
    const CancelPredicate cancel = [&status] { return status.stopRequested.load(); };
    const std::wstring url = DownloadUrlFor(manifest.baseUrl, job.widePath);
    if (job.entry.blocks && !status.fullCheck.load() &&
        PatchByBlocks(session, url, LocalPathFor(status.installDir, job.entry.relPath),
                      job.staged.handle.get(), job.entry, cancel, progress, job.writtenSha256)) {
        return Going();
    }
    // Hashed as it is written: the file is not read a second time to be verified.
    Sha256 hash;
    if (!RewindStagingFile(job.staged) ||
        !HttpDownloadFile(session, url, job.staged.handle.get(), cancel, progress, job.entry.size,
                          &hash)) {
        return EndWith(RunOutcome::DownloadError, job.widePath);
    }
    Sha256Digest digest;
    if (hash.Finish(digest))
        job.writtenSha256 = HexDigest(digest.data(), digest.size());
    return Going();
}

// The digest taken as the file was written; when none could be taken, the file is read again
// through the handle it was written through.
RunEnd Verify(FileJob& job) {
    const std::string sha256 =
        job.writtenSha256.empty() ? StagingFileSha256(job.staged) : job.writtenSha256;
    return sha256 == job.entry.sha256 ? Going() : EndWith(RunOutcome::Corrupt, job.widePath);
}

// One step, so there is no moment without a target; a target held open by a running game makes
// it fail, and that must not pass for an installed file. A read-only target (copied from a disc,
// or marked so by an older installer) is replaced all the same.
RunEnd Install(FileJob& job) {
    const StepResult installed = InstallStagingFile(job.staged, job.targetRel);
    if (installed == StepResult::Done)
        return Going();
    return EndWith(
        installed == StepResult::Unsafe ? RunOutcome::BadPath : RunOutcome::InstallFailed,
        job.widePath);
}

}  // namespace

RunEnd UpdateFiles(PatchStatus& status, const HttpSession& session, const PatchManifest& manifest,
                   const std::vector<ManifestEntry>& pending) {
    std::uint64_t runTotalBytes = 0;
    for (const ManifestEntry& entry : pending)
        runTotalBytes += entry.size;
    status.phase.store(PatchPhase::Downloading);
    // The folder's final path is taken once: every file's checks compare with it.
    const InstallRoot root = OpenInstallRoot(status.installDir);
    std::uint64_t doneBytes = 0;
    const int count = static_cast<int>(pending.size());
    for (int index = 0; index < count; ++index) {
        if (status.stopRequested.load())
            return EndWith(RunOutcome::Cancelled);
        FileJob job(pending[static_cast<size_t>(index)]);
        RunEnd end = Stage(root, job);
        if (!end.going())
            return end;
        SetStatusText(status, DownloadStatusLine(index + 1, count, job.widePath));
        const ProgressCallback progress = [&status, doneBytes, runTotalBytes](std::uint64_t done,
                                                                              std::uint64_t total) {
            status.overallProgress.store(Fraction(doneBytes + done, runTotalBytes));
            status.fileProgress.store(Fraction(done, total));
        };
        end = Fetch(status, session, manifest, job, progress);
        if (end.going()) {
            status.phase.store(PatchPhase::Verifying);
            end = Verify(job);
        }
        if (end.going()) {
            status.phase.store(PatchPhase::Downloading);
            end = Install(job);
        }
        if (!end.going()) {
            DiscardStagingFile(job.staged);  // before the end is shown: no .part outlives a run
            return end;
        }
        doneBytes += job.entry.size;
        status.overallProgress.store(runTotalBytes == 0 ? 1.0 : Fraction(doneBytes, runTotalBytes));
    }
    return EndWith(RunOutcome::Updated);
}
