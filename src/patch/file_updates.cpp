#include "patch/file_updates.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/text_conversion.h"
#include "patch/block_patch.h"
#include "patch/install_paths.h"
#include "patch/installed_files.h"
#include "patch/staging.h"
#include "patch/verified_files.h"
#include "portable/patch/compressed_copy.h"

namespace {

double Fraction(std::uint64_t part, std::uint64_t whole) {
    return whole == 0 ? 0.0 : static_cast<double>(part) / static_cast<double>(whole);
}

bool FolderExists(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// An elevated process must never write through a link that someone planted below the
// installation: the staging file is created here, held until it is installed or dropped, and
// written only through its handle, so a name swapped meanwhile leads nowhere. With retries, one
// an earlier run left is continued when it is provably the launcher's own.
RunEnd Stage(const FileRoad& road, FileJob& job) {
    if (!IsPlainPathBelow(road.root, job.targetRel) ||
        !IsPlainLeafBelow(road.root, job.stagingRel)) {
        return EndWith(RunOutcome::BadPath, job.widePath);
    }
    // Made only where missing: each try at an existing folder costs a round of system calls.
    const std::wstring target = road.root.path + L"\\" + job.targetRel;
    if (!FolderExists(target.substr(0, target.find_last_of(L'\\'))))
        CreateParentDirectories(target);
    const StepResult created =
        road.continueKept
            ? AdoptStagingFile(road.root, job.stagingRel, job.size, job.staged, job.kept)
            : CreateStagingFile(road.root, job.stagingRel, job.staged);
    if (created == StepResult::Done)
        return Going();
    return EndWith(created == StepResult::Unsafe ? RunOutcome::BadPath : RunOutcome::DownloadError,
                   job.widePath);
}

// The whole file from `resumeFrom` on, hashed as it is written: the file is not read a second
// time to be verified.
bool FetchWhole(const FileRoad& road, FileJob& job, const ProgressCallback& progress,
                std::uint64_t resumeFrom) {
    job.writtenSha256.clear();
    DownloadOptions options;
    options.retry = Retry{road.retries, &job.budget};
    options.exactSize = job.exactSize;
    options.resumeFrom = resumeFrom;
    // Bytes kept by an earlier run are inflated ones: they continue from the file itself.
    const bool fromCopy = resumeFrom == 0 && job.copySize > 0;
    options.copySize = fromCopy ? job.copySize : 0;
    return (resumeFrom > 0 || RewindStagingFile(job.staged)) &&
           HttpDownloadFile(road.session, fromCopy ? job.copyUrl : job.url, job.staged.handle.get(),
                            road.cancel, progress, job.size, options, &job.writtenSha256);
}

// A changed local copy of a BLOCKS entry is patched by fetching only what it lacks; any failure
// on that road leaves the whole download.
bool FetchByBlocks(const FileRoad& road, FileJob& job, const ProgressCallback& progress) {
    return job.kept == 0 && job.entry != nullptr && job.entry->blocks && road.byBlocks &&
           PatchByBlocks(road.session, job.url, road.root.path + L"\\" + job.targetRel,
                         job.staged.handle.get(), *job.entry, road.cancel, progress,
                         job.writtenSha256, Retry{road.retries, &job.budget});
}

RunEnd Fetch(const FileRoad& road, FileJob& job, const ProgressCallback& progress) {
    if (FetchByBlocks(road, job, progress))
        return Going();
    bool fetched = false;
    if (job.kept > 0 && job.kept == job.size) {
        job.writtenSha256 = StagingFileSha256(job.staged);  // complete already: nothing to fetch
        fetched = true;
    } else {
        fetched = FetchWhole(road, job, progress, job.kept);
    }
    if (fetched && job.kept > 0 && job.writtenSha256 != job.sha256)
        fetched = FetchWhole(road, job, progress, 0);
    return fetched ? Going() : EndWith(RunOutcome::DownloadError, job.widePath);
}

// One step, so there is no moment without a target; a target held open by a running game makes
// it fail, and that must not pass for an installed file. A read-only target (copied from a disc,
// or marked so by an older installer) is replaced all the same.
RunEnd Install(FileJob& job) {
    const StepResult installed = InstallStagingFileUnflushed(job.staged, job.targetRel);
    if (installed == StepResult::Done)
        return Going();
    return EndWith(
        installed == StepResult::Unsafe ? RunOutcome::BadPath : RunOutcome::InstallFailed,
        job.widePath);
}

// Verifies and installs a fetched file, with the phases the window shows meanwhile.
RunEnd VerifyAndInstall(PatchStatus& status, FileJob& job) {
    status.phase.store(PatchPhase::Verifying);
    RunEnd end = VerifyStaged(job);
    if (end.going()) {
        status.phase.store(PatchPhase::Downloading);
        end = Install(job);
    }
    return end;
}

// A file given up: with retries a staging file that was only cut short or stopped stays for the
// next run to continue; otherwise no staging file outlives the run.
void DropStaging(const FileRoad& road, FileJob& job, const RunEnd& end) {
    const bool continuable =
        end.outcome == RunOutcome::DownloadError || end.outcome == RunOutcome::Cancelled;
    if (road.continueKept && continuable)
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

FileJob JobFor(const PatchManifest& manifest, const ManifestEntry& entry) {
    const std::wstring widePath = Utf8ToWide(entry.relPath);
    const std::wstring targetRel = InstallRelative(entry.relPath);
    const std::wstring copyUrl =
        entry.compressedSize > 0
            ? DownloadUrlFor(manifest.baseUrl, Utf8ToWide(CompressedCopyPath(entry.relPath)))
            : std::wstring();
    return FileJob{DownloadUrlFor(manifest.baseUrl, widePath),
                   widePath,
                   targetRel,
                   PartPathFor(targetRel),
                   entry.size,
                   true,
                   entry.sha256,
                   &entry,
                   copyUrl,
                   entry.compressedSize,
                   BudgetFor(entry.size)};
}

// The pending files of a run, up to `window` of them staged and fetched at once by as many
// fetching threads, ahead of the one being installed; one at a time is a window of 1. Files are
// verified and installed strictly in manifest order on the run's own thread, and the status line
// and the file bar follow that file, so the player sees the same sequence either way. The overall
// bar counts bytes fetched. The first failure in manifest order ends the run: files before it stay
// installed, files after it are dropped with their staging files. No more than `window` staging
// files are open at once.
class FileQueue {
  public:
    FileQueue(const FileRoad& road, PatchStatus& status, const PatchManifest& manifest,
              const std::vector<ManifestEntry>& pending, std::size_t window,
              InstalledFiles& installed)
        : road_(road),
          status_(status),
          window_(window),
          total_(TotalBytes(pending)),
          installed_(installed) {
        for (const ManifestEntry& entry : pending)
            slots_.push_back(std::make_unique<Slot>(manifest, entry));
    }

    RunEnd Run() {
        FileRoad fetching = road_;
        fetching.cancel = [this] { return status_.stopRequested.load() || abandon_.load(); };
        for (std::size_t i = 0; i < std::min(window_, slots_.size()); ++i) {
            // std::thread reports a failed creation only by throwing: fewer fetchers then.
            try {
                fetchers_.emplace_back([this, &fetching] { Fetcher(fetching); });
            } catch (...) {
                break;
            }
        }
        RunEnd end =
            fetchers_.empty() ? EndWith(RunOutcome::DownloadError, FirstPath()) : InstallInOrder();
        {
            const std::lock_guard<std::mutex> hold(lock_);
            abandon_.store(true);
        }
        changed_.notify_all();
        for (std::thread& fetcher : fetchers_)
            fetcher.join();
        // The file that failed goes by its own end; the ones fetched after it are only cut short.
        for (std::size_t i = head_; i < slots_.size(); ++i) {
            DropStaging(road_, slots_[i]->job,
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
        Slot(const PatchManifest& manifest, const ManifestEntry& entry)
            : job(JobFor(manifest, entry)) {}
    };

    std::wstring FirstPath() const {
        return slots_.empty() ? std::wstring() : slots_[0]->job.widePath;
    }

    // Takes the next file within the window ahead of the one being installed, until none is left.
    void Fetcher(const FileRoad& fetching) {
        for (;;) {
            std::size_t index = 0;
            {
                std::unique_lock<std::mutex> hold(lock_);
                changed_.wait(hold, [this] {
                    return abandon_.load() || next_ >= slots_.size() || next_ < head_ + window_;
                });
                if (abandon_.load() || next_ >= slots_.size())
                    return;
                index = next_++;
            }
            Slot& slot = *slots_[index];
            const ProgressCallback progress = [this, &slot](std::uint64_t done,
                                                            std::uint64_t total) {
                Report(slot, done, total);
            };
            RunEnd end = EndWith(RunOutcome::DownloadError, slot.job.widePath);
            // An exception leaving a thread ends the process; a file that cannot go on fails.
            try {
                end = StageAndFetch(fetching, slot.job, progress);
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
        status_.overallProgress.store(Fraction(fetchedAll_, total_));
        if (head_ < slots_.size() && &slot == slots_[head_].get())
            status_.fileProgress.store(Fraction(slot.fetched, slot.total));
    }

    // The run's own thread: each file in order, once its fetch has finished.
    RunEnd InstallInOrder() {
        const int count = static_cast<int>(slots_.size());
        for (std::size_t index = 0; index < slots_.size(); ++index) {
            if (status_.stopRequested.load())
                return EndWith(RunOutcome::Cancelled);
            Slot& slot = *slots_[index];
            SetStatusText(
                status_, DownloadStatusLine(static_cast<int>(index + 1), count, slot.job.widePath));
            {
                std::unique_lock<std::mutex> hold(lock_);
                // The bar keeps the last file's value until this one reports, as one at a time.
                if (slot.fetched > 0)
                    status_.fileProgress.store(Fraction(slot.fetched, slot.total));
                changed_.wait(hold, [&slot] { return slot.finished; });
            }
            RunEnd end = slot.end;
            if (end.going())
                end = VerifyAndInstall(status_, slot.job);
            if (!end.going())
                return end;
            Installed(slot);
            end = HoldInstalled(installed_, slot.job);
            if (!end.going())
                return end;
        }
        return Going();
    }

    // A file installed counts whole, whatever its transfer reported.
    void Installed(Slot& slot) {
        {
            const std::lock_guard<std::mutex> hold(lock_);
            ++head_;
            const std::uint64_t size = slot.job.size;
            fetchedAll_ += size > slot.fetched ? size - slot.fetched : 0;
            slot.fetched = std::max(slot.fetched, size);
            status_.overallProgress.store(total_ == 0 ? 1.0 : Fraction(fetchedAll_, total_));
        }
        changed_.notify_all();
    }

    const FileRoad& road_;
    PatchStatus& status_;
    const std::size_t window_;
    const std::uint64_t total_;
    std::vector<std::unique_ptr<Slot>> slots_;
    std::vector<std::thread> fetchers_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::size_t head_ = 0;  // the file being installed next
    std::size_t next_ = 0;  // the next file to fetch
    std::uint64_t fetchedAll_ = 0;
    std::atomic<bool> abandon_{false};
    InstalledFiles& installed_;
};

}  // namespace

RunEnd StageAndFetch(const FileRoad& road, FileJob& job, const ProgressCallback& progress) {
    RunEnd end = Stage(road, job);
    return end.going() ? Fetch(road, job, progress) : end;
}

// The digest taken as the file was written; when none could be taken, the file is read again
// through the handle it was written through.
RunEnd VerifyStaged(FileJob& job) {
    const std::string sha256 =
        job.writtenSha256.empty() ? StagingFileSha256(job.staged) : job.writtenSha256;
    return sha256 == job.sha256 ? Going() : EndWith(RunOutcome::Corrupt, job.widePath);
}

RunEnd UpdateFiles(PatchStatus& status, const HttpSession& session, const PatchManifest& manifest,
                   const std::vector<ManifestEntry>& pending) {
    status.phase.store(PatchPhase::Downloading);
    const int retries = std::max(0, status.downloadRetries);
    const FileRoad road{session,
                        OpenInstallRoot(status.installDir),
                        retries,
                        retries > 0,
                        !status.fullCheck.load(),
                        [&status] { return status.stopRequested.load(); }};
    const int window = std::min(std::max(status.downloadsInFlight, 1), 8);
    InstalledFiles installed{status.quickCheck};
    FileQueue files(road, status, manifest, pending, static_cast<std::size_t>(window), installed);
    const RunEnd end = FlushInstalled(installed, files.Run());
    if (status.quickCheck)
        RecordInstalledFiles(road.root, manifest.entries, installed.flushed);
    // Every file in place: no staging file is kept, so the record of kept ones has nothing to say.
    if (road.continueKept && end.outcome == RunOutcome::Updated)
        RemoveFileBelow(road.root, Utf8ToWide(kKeptPartsRecord));
    return end;
}
