#include "patch/file_updates.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "net/http_client.h"
#include "net/text_conversion.h"
#include "patch/block_patch.h"
#include "patch/install_paths.h"
#include "patch/install_step.h"
#include "patch/staging.h"

namespace {

double Fraction(std::uint64_t part, std::uint64_t whole) {
    return whole == 0 ? 0.0 : static_cast<double>(part) / static_cast<double>(whole);
}

// What every file of the stage shares.
struct FileRun {
    PatchStatus& status;
    const HttpSession& session;
    const PatchManifest& manifest;
    InstallRoot root;  // the folder's final path is taken once: every check compares with it
    int retries;
    CancelPredicate cancel;
};

// One pending file on its way: where it goes, and its staging file once made.
struct FileJob {
    const ManifestEntry& entry;
    std::wstring widePath;
    std::wstring targetRel;  // below the installation, '\' between names
    StagingFile staged;
    std::uint64_t kept = 0;     // bytes an earlier run left in the staging file, continued
    std::string writtenSha256;  // known when the file was hashed as it was written

    explicit FileJob(const ManifestEntry& e)
        : entry(e), widePath(Utf8ToWide(e.relPath)), targetRel(InstallRelative(e.relPath)) {}
};

// An elevated process must never write through a link that someone planted below the
// installation: the staging file is created here, held until it is installed or dropped, and
// written only through its handle, so a name swapped meanwhile leads nowhere. With retries, one
// an earlier run left is continued.
RunEnd Stage(const FileRun& run, FileJob& job) {
    if (!EntryPathsArePlain(run.root, job.entry.relPath))
        return EndWith(RunOutcome::BadPath, job.widePath);
    // Made only where missing: each try at an existing folder costs a round of system calls.
    const std::wstring target = LocalPathFor(run.root.path, job.entry.relPath);
    const DWORD folder =
        ::GetFileAttributesW(target.substr(0, target.find_last_of(L"\\/")).c_str());
    if (folder == INVALID_FILE_ATTRIBUTES || (folder & FILE_ATTRIBUTE_DIRECTORY) == 0)
        CreateParentDirectories(target);
    const std::wstring part = PartPathFor(job.targetRel);
    const StepResult created =
        run.retries > 0 ? AdoptStagingFile(run.root, part, job.entry.size, job.staged, job.kept)
                        : CreateStagingFile(run.root, part, job.staged);
    if (created == StepResult::Done)
        return Going();
    return EndWith(created == StepResult::Unsafe ? RunOutcome::BadPath : RunOutcome::DownloadError,
                   job.widePath);
}

// The whole file from `resumeFrom` on, hashed as it is written: the file is not read a second
// time to be verified.
bool FetchWhole(const FileRun& run, FileJob& job, const ProgressCallback& progress,
                std::uint64_t resumeFrom) {
    const std::wstring url = DownloadUrlFor(run.manifest.baseUrl, job.widePath);
    job.writtenSha256.clear();
    DownloadOptions options;
    options.retries = run.retries;
    options.resumeFrom = resumeFrom;
    return (resumeFrom > 0 || RewindStagingFile(job.staged)) &&
           HttpDownloadFile(run.session, url, job.staged.handle.get(), run.cancel, progress,
                            job.entry.size, options, &job.writtenSha256);
}

// A changed local copy of a BLOCKS entry is patched by fetching only what it lacks; any failure
// on that road leaves the whole download, capped at the entry's size. A file continued from an
// earlier run that turns out wrong is fetched once more from its first byte.
RunEnd Fetch(const FileRun& run, FileJob& job, const ProgressCallback& progress) {
    const std::wstring url = DownloadUrlFor(run.manifest.baseUrl, job.widePath);
    if (job.kept == 0 && job.entry.blocks && !run.status.fullCheck.load() &&
        PatchByBlocks(run.session, url, LocalPathFor(run.root.path, job.entry.relPath),
                      job.staged.handle.get(), job.entry, run.cancel, progress, job.writtenSha256,
                      run.retries)) {
        return Going();
    }
    bool fetched = false;
    if (job.kept > 0 && job.kept == job.entry.size) {
        job.writtenSha256 = StagingFileSha256(job.staged);  // complete already: nothing to fetch
        fetched = true;
    } else {
        fetched = FetchWhole(run, job, progress, job.kept);
    }
    if (fetched && job.kept > 0 && job.writtenSha256 != job.entry.sha256)
        fetched = FetchWhole(run, job, progress, 0);
    return fetched ? Going() : EndWith(RunOutcome::DownloadError, job.widePath);
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

// Verifies and installs a fetched file, with the phases the window shows meanwhile.
RunEnd VerifyAndInstall(PatchStatus& status, FileJob& job) {
    status.phase.store(PatchPhase::Verifying);
    RunEnd end = Verify(job);
    if (end.going()) {
        status.phase.store(PatchPhase::Downloading);
        end = Install(job);
    }
    return end;
}

// A file given up: with retries a staging file that was only cut short or stopped stays for the
// next run to continue; otherwise no .part outlives the run.
void DropStaging(const FileRun& run, FileJob& job, const RunEnd& end) {
    const bool continuable =
        end.outcome == RunOutcome::DownloadError || end.outcome == RunOutcome::Cancelled;
    if (run.retries > 0 && continuable)
        KeepStagingFile(job.staged);
    else
        DiscardStagingFile(job.staged);
}

std::uint64_t TotalBytes(const std::vector<ManifestEntry>& pending) {
    std::uint64_t total = 0;
    for (const ManifestEntry& entry : pending)
        total += entry.size;
    return total;
}

// One file after another: stage, fetch, verify, install.
RunEnd UpdateOneByOne(const FileRun& run, const std::vector<ManifestEntry>& pending) {
    PatchStatus& status = run.status;
    const std::uint64_t runTotalBytes = TotalBytes(pending);
    std::uint64_t doneBytes = 0;
    const int count = static_cast<int>(pending.size());
    for (int index = 0; index < count; ++index) {
        if (status.stopRequested.load())
            return EndWith(RunOutcome::Cancelled);
        FileJob job(pending[static_cast<size_t>(index)]);
        RunEnd end = Stage(run, job);
        if (!end.going())
            return end;
        SetStatusText(status, DownloadStatusLine(index + 1, count, job.widePath));
        const ProgressCallback progress = [&status, doneBytes, runTotalBytes](std::uint64_t done,
                                                                              std::uint64_t total) {
            status.overallProgress.store(Fraction(doneBytes + done, runTotalBytes));
            status.fileProgress.store(Fraction(done, total));
        };
        end = Fetch(run, job, progress);
        if (end.going())
            end = VerifyAndInstall(status, job);
        if (!end.going()) {
            DropStaging(run, job, end);  // before the end is shown
            return end;
        }
        doneBytes += job.entry.size;
        status.overallProgress.store(runTotalBytes == 0 ? 1.0 : Fraction(doneBytes, runTotalBytes));
    }
    return EndWith(RunOutcome::Updated);
}

// Several files in flight: up to `inFlight` files are staged and fetched at once by as many
// fetching threads, ahead of the one being installed; files are verified and installed strictly in
// manifest order on the run's own thread, and the status line and the file bar follow that file,
// so the player sees the same sequence as one at a time. The overall bar counts bytes fetched. The
// first failure in manifest order ends the run: files before it stay installed, files after it
// are dropped with their staging files. No more than `inFlight` staging files are open at once.
class InFlight {
  public:
    InFlight(const FileRun& run, const std::vector<ManifestEntry>& pending, int inFlight)
        : run_(run), inFlight_(static_cast<std::size_t>(inFlight)), total_(TotalBytes(pending)) {
        for (const ManifestEntry& entry : pending)
            jobs_.push_back(std::make_unique<Slot>(entry));
    }

    RunEnd Run() {
        const std::size_t count = jobs_.size();
        FileRun fetching = run_;
        fetching.cancel = [this] { return run_.status.stopRequested.load() || abandon_.load(); };
        for (std::size_t i = 0; i < std::min(inFlight_, count); ++i) {
            // std::thread reports a failed creation only by throwing: fewer fetchers then.
            try {
                fetchers_.emplace_back([this, &fetching] { Fetcher(fetching); });
            } catch (...) {
                break;
            }
        }
        RunEnd end =
            fetchers_.empty() ? EndWith(RunOutcome::DownloadError, Slot0Path()) : Install(count);
        {
            const std::lock_guard<std::mutex> hold(lock_);
            abandon_.store(true);
        }
        changed_.notify_all();
        for (std::thread& fetcher : fetchers_)
            fetcher.join();
        // The file that failed goes by its own end; the ones fetched after it are only cut short.
        for (std::size_t i = head_; i < count; ++i) {
            DropStaging(run_, jobs_[i]->job,
                        i == head_ && !end.going() ? end : EndWith(RunOutcome::Cancelled));
        }
        return end.going() ? EndWith(RunOutcome::Updated) : end;
    }

  private:
    struct Slot {
        FileJob job;
        std::uint64_t fetched = 0;  // bytes reported so far
        std::uint64_t total = 0;
        bool finished = false;
        RunEnd end;
        explicit Slot(const ManifestEntry& entry) : job(entry) {}
    };

    std::wstring Slot0Path() const {
        return jobs_.empty() ? std::wstring() : jobs_[0]->job.widePath;
    }

    // Takes the next file within the window ahead of the one being installed, until none is left.
    void Fetcher(const FileRun& fetching) {
        for (;;) {
            std::size_t index = 0;
            {
                std::unique_lock<std::mutex> hold(lock_);
                changed_.wait(hold, [this] {
                    return abandon_.load() || next_ >= jobs_.size() || next_ < head_ + inFlight_;
                });
                if (abandon_.load() || next_ >= jobs_.size())
                    return;
                index = next_++;
            }
            Slot& slot = *jobs_[index];
            const ProgressCallback progress = [this, &slot](std::uint64_t done,
                                                            std::uint64_t total) {
                Report(slot, done, total);
            };
            RunEnd end = EndWith(RunOutcome::DownloadError, slot.job.widePath);
            // An exception leaving a thread ends the process; a file that cannot go on fails.
            try {
                end = Stage(fetching, slot.job);
                if (end.going())
                    end = Fetch(fetching, slot.job, progress);
            } catch (...) {
            }
            {
                const std::lock_guard<std::mutex> hold(lock_);
                slot.end = end;
                slot.finished = true;
            }
            changed_.notify_all();
        }
    }

    void Report(Slot& slot, std::uint64_t done, std::uint64_t total) {
        const std::lock_guard<std::mutex> hold(lock_);
        if (done > slot.fetched) {
            fetchedAll_ += done - slot.fetched;
            slot.fetched = done;
        }
        slot.total = total;
        run_.status.overallProgress.store(Fraction(fetchedAll_, total_));
        if (head_ < jobs_.size() && &slot == jobs_[head_].get())
            run_.status.fileProgress.store(Fraction(slot.fetched, slot.total));
    }

    // The run's own thread: each file in order, once its fetch has finished.
    RunEnd Install(std::size_t count) {
        PatchStatus& status = run_.status;
        for (std::size_t index = 0; index < count; ++index) {
            if (status.stopRequested.load())
                return EndWith(RunOutcome::Cancelled);
            Slot& slot = *jobs_[index];
            SetStatusText(status, DownloadStatusLine(static_cast<int>(index + 1),
                                                     static_cast<int>(count), slot.job.widePath));
            {
                std::unique_lock<std::mutex> hold(lock_);
                status.fileProgress.store(Fraction(slot.fetched, slot.total));
                changed_.wait(hold, [&slot] { return slot.finished; });
            }
            RunEnd end = slot.end;
            if (end.going())
                end = VerifyAndInstall(status, slot.job);
            if (!end.going())
                return end;
            {
                const std::lock_guard<std::mutex> hold(lock_);
                ++head_;
                // A file installed counts whole, whatever its transfer reported.
                fetchedAll_ +=
                    slot.job.entry.size > slot.fetched ? slot.job.entry.size - slot.fetched : 0;
                slot.fetched = std::max(slot.fetched, slot.job.entry.size);
                status.overallProgress.store(total_ == 0 ? 1.0 : Fraction(fetchedAll_, total_));
            }
            changed_.notify_all();
        }
        return Going();
    }

    const FileRun& run_;
    const std::size_t inFlight_;
    const std::uint64_t total_;
    std::vector<std::unique_ptr<Slot>> jobs_;
    std::vector<std::thread> fetchers_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::size_t head_ = 0;  // the file being installed next
    std::size_t next_ = 0;  // the next file to fetch
    std::uint64_t fetchedAll_ = 0;
    std::atomic<bool> abandon_{false};
};

}  // namespace

RunEnd UpdateFiles(PatchStatus& status, const HttpSession& session, const PatchManifest& manifest,
                   const std::vector<ManifestEntry>& pending) {
    status.phase.store(PatchPhase::Downloading);
    const FileRun run{status,
                      session,
                      manifest,
                      OpenInstallRoot(status.installDir),
                      std::max(0, status.downloadRetries),
                      [&status] { return status.stopRequested.load(); }};
    const int inFlight = std::min(std::max(status.downloadsInFlight, 1), 8);
    if (inFlight == 1)
        return UpdateOneByOne(run, pending);
    InFlight files(run, pending, inFlight);
    return files.Run();
}
