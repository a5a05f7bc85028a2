#include "patch/installed_files.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>

#include "patch/file_states.h"
#include "patch/verified_files.h"

namespace {

// Enough to share each wait for the disk among many files; few enough open handles for any
// system.
constexpr std::size_t kBatch = 128;
// Flushes of different files issued together are served together (a journal commits them at
// once, a disk queue takes them as one).
constexpr std::size_t kFlushThreads = 8;

// What flushing one batch learns of each file.
struct Flushing {
    const std::vector<UniqueFile>& files;
    const bool readStates;
    std::vector<FileState> states;
    std::vector<char> stated;
    std::atomic<std::size_t> failed;  // the first file that failed, or files.size()
};

// Flushes every `stride`-th file from `first` on, and reads each one's state after its flush.
void FlushShare(Flushing& batch, std::size_t first, std::size_t stride) noexcept {
    for (std::size_t i = first; i < batch.files.size(); i += stride) {
        if (!::FlushFileBuffers(batch.files[i].get())) {
            std::size_t seen = batch.failed.load();
            while (i < seen && !batch.failed.compare_exchange_weak(seen, i)) {
            }
        } else if (batch.readStates) {
            batch.stated[i] = ReadSingleLinkState(batch.files[i].get(), batch.states[i]);
        }
    }
}

void FlushAll(Flushing& batch) {
    const std::size_t threads = std::min(kFlushThreads, batch.files.size());
    std::vector<std::thread> helpers;
    std::size_t started = 1;
    for (; started < threads; ++started) {
        // std::thread reports a failed creation only by throwing: the calling thread then takes
        // the shares of the helpers that never started.
        try {
            helpers.emplace_back(FlushShare, std::ref(batch), started, threads);
        } catch (...) {
            break;
        }
    }
    FlushShare(batch, 0, std::max<std::size_t>(threads, 1));
    for (std::size_t share = started; share < threads; ++share)
        FlushShare(batch, share, threads);
    for (std::thread& helper : helpers)
        helper.join();
}

// The files are held (nobody else may open them) until their last change is older than a tick
// of the file system's clock: a change after they are let go then shows in their state. The
// states read after the flush must still be theirs; the ones that may be recorded are kept.
void SettleStates(Flushing& batch) {
    std::int64_t latest = 0;
    for (std::size_t i = 0; i < batch.files.size(); ++i) {
        if (batch.stated[i])
            latest = std::max({latest, batch.states[i].changeTime, batch.states[i].lastWrite});
    }
    const std::int64_t wait = latest + kSettleTime - FileTimeNow();
    if (wait > 0)
        ::Sleep(static_cast<DWORD>(std::min(wait, kSettleTime) / 10000 + 1));
    const std::int64_t now = FileTimeNow();
    for (std::size_t i = 0; i < batch.files.size(); ++i) {
        FileState again;
        batch.stated[i] = batch.stated[i] && ReadSingleLinkState(batch.files[i].get(), again) &&
                          again == batch.states[i] && IsSettledState(again, now);
    }
}

RunEnd FlushBatch(InstalledFiles& files) {
    const std::size_t count = files.held.size();
    Flushing batch{files.held,
                   files.keepStates,
                   std::vector<FileState>(count),
                   std::vector<char>(count, 0),
                   {count}};
    FlushAll(batch);
    if (files.keepStates)
        SettleStates(batch);
    const std::size_t failed = batch.failed.load();
    for (std::size_t i = 0; i < count && i < failed; ++i) {
        files.flushed.push_back(files.heldEntries[i]);
        if (batch.stated[i])
            files.flushed.back().state = batch.states[i];
    }
    const RunEnd end =
        failed < count ? EndWith(RunOutcome::InstallFailed, files.heldPaths[failed]) : Going();
    files.held.clear();
    files.heldPaths.clear();
    files.heldEntries.clear();
    return end;
}

}  // namespace

RunEnd HoldInstalled(InstalledFiles& files, FileJob& job) {
    files.held.push_back(std::move(job.staged.installed));
    files.heldPaths.push_back(job.filePath);
    VerifiedFile entry;
    entry.relPath = job.entry != nullptr ? job.entry->relPath : std::string();
    entry.sha256 = job.sha256;
    files.heldEntries.push_back(std::move(entry));
    return files.held.size() < kBatch ? Going() : FlushBatch(files);
}

RunEnd FlushInstalled(InstalledFiles& files, const RunEnd& end) {
    const RunEnd flushed = FlushBatch(files);
    const bool good = end.outcome == RunOutcome::Updated || end.going();
    return good && !flushed.going() ? flushed : end;
}
