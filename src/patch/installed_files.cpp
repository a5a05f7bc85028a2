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

// Keeps the lowest index that failed.
void NoteFailure(std::atomic<std::size_t>& failed, std::size_t index) {
    std::size_t seen = failed.load();
    while (index < seen && !failed.compare_exchange_weak(seen, index))
        continue;
}

// Flushes every `stride`-th file from `first` on, and reads each one's state after its flush.
void FlushShare(Flushing& batch, std::size_t first, std::size_t stride) noexcept {
    for (std::size_t i = first; i < batch.files.size(); i += stride) {
        if (!::FlushFileBuffers(batch.files[i].get())) {
            NoteFailure(batch.failed, i);
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

// Flushes a batch and empties it; its files go to `flushed` (with their states when `keepStates`).
RunEnd FlushBatch(HeldFiles& held, bool keepStates, std::vector<VerifiedFile>& flushed) {
    const std::size_t count = held.files.size();
    Flushing batch{held.files,
                   keepStates,
                   std::vector<FileState>(count),
                   std::vector<char>(count, 0),
                   {count}};
    FlushAll(batch);
    if (keepStates)
        SettleStates(batch);
    const std::size_t failed = batch.failed.load();
    for (std::size_t i = 0; i < count && i < failed; ++i) {
        flushed.push_back(held.entries[i]);
        if (batch.stated[i])
            flushed.back().state = batch.states[i];
    }
    const RunEnd end =
        failed < count ? EndWith(RunOutcome::InstallFailed, held.paths[failed]) : Going();
    held = HeldFiles();
    return end;
}

// How the batch on the flusher ended, once it has.
RunEnd JoinFlusher(InstalledFiles& files) {
    if (!files.flusher.joinable())
        return Going();
    files.flusher.join();
    const RunEnd end = files.flushEnd;
    files.flushEnd = Going();
    return end;
}

}  // namespace

InstalledFiles::~InstalledFiles() {
    if (flusher.joinable())
        flusher.join();
}

RunEnd HoldInstalled(InstalledFiles& files, FileJob& job) {
    files.held.files.push_back(std::move(job.staged.installed));
    files.held.paths.push_back(job.widePath);
    VerifiedFile entry;
    entry.relPath = job.entry != nullptr ? job.entry->relPath : std::string();
    entry.sha256 = job.sha256;
    files.held.entries.push_back(std::move(entry));
    if (files.held.files.size() < kBatch)
        return Going();
    const RunEnd before = JoinFlusher(files);
    if (!before.going())
        return before;
    files.flushing = std::move(files.held);
    files.held = HeldFiles();
    // std::thread reports a failed creation only by throwing: the batch is flushed right here.
    try {
        files.flusher = std::thread([&files] {
            // An exception leaving a thread ends the process; a batch that cannot go on fails.
            try {
                files.flushEnd = FlushBatch(files.flushing, files.keepStates, files.flushed);
            } catch (...) {
                const std::vector<std::wstring>& paths = files.flushing.paths;
                files.flushEnd = EndWith(RunOutcome::InstallFailed,
                                         paths.empty() ? std::wstring() : paths.front());
            }
        });
    } catch (...) {
        return FlushBatch(files.flushing, files.keepStates, files.flushed);
    }
    return Going();
}

RunEnd FlushInstalled(InstalledFiles& files, const RunEnd& end) {
    const RunEnd before = JoinFlusher(files);
    const RunEnd last = FlushBatch(files.held, files.keepStates, files.flushed);
    const RunEnd flushed = before.going() ? last : before;
    const bool good = end.outcome == RunOutcome::Updated || end.going();
    return good && !flushed.going() ? flushed : end;
}
