#include "patch/check_pass.h"

#include "platform/kernel_handles.h"
#include "platform/file_hash.h"
#include "patch/file_states.h"
#include "patch/install_paths.h"
#include "patch/seek_penalty.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <thread>

namespace {

constexpr unsigned kMaxThreads = 8;
constexpr DWORD kBufferSize = 1u << 20;

enum class Decision { Keep, Queue, Stopped };

// What the threads share. Each entry's slot in `needed` is written by the one thread that took it,
// and read only after every thread has been joined.
struct Work {
    const std::vector<ManifestEntry>& entries;
    const std::vector<std::wstring>& localPaths;
    const std::vector<size_t>& order;  // the entries to look at, in the order they are taken
    std::vector<char>& needed;
    const std::atomic<bool>& stop;
    QuickFacts* quick;  // null without the quick check
    std::atomic<size_t> next{0};
    std::atomic<bool> cancelled{false};
};

UniqueFile OpenToRead(const std::wstring& path, DWORD access) {
    return UniqueFile(::CreateFileW(path.c_str(), access, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
}

// A file that must be flushed before it is recorded (the record names only files whose data is
// on the disk) is opened so that it can be; one that refuses that access (read-only, or held by a
// program that shares no writing) is read as any other and stays out of the record.
UniqueFile OpenToCheck(const std::wstring& path, bool toFlush, bool& flushable) {
    flushable = false;
    if (toFlush) {
        UniqueFile file = OpenToRead(path, GENERIC_READ | FILE_WRITE_DATA);
        if (file) {
            flushable = true;
            return file;
        }
    }
    return OpenToRead(path, GENERIC_READ);
}

// The hashed file is the one its folder's listing showed, has no other name, and its data is on
// the disk.
bool VerifiedAsListed(HANDLE file, const FileState& listed, bool flush) {
    FileState state;
    return ReadSingleLinkState(file, state, listed.idHigh != 0) && state == listed &&
           (!flush || ::FlushFileBuffers(file));
}

// Normal mode: missing, resized or different content needs a download. Only a file whose size
// matches is read in full, through the same handle. With the quick check, a file the record
// vouches for is not opened at all, and one hashed to its digest is marked for the record.
Decision Decide(Work& work, size_t index, unsigned char* buffer) noexcept {
    const ManifestEntry& entry = work.entries[index];
    const std::wstring& localPath = work.localPaths[index];
    if (entry.ifMissing) {
        return ::GetFileAttributesW(localPath.c_str()) == INVALID_FILE_ATTRIBUTES ? Decision::Queue
                                                                                  : Decision::Keep;
    }
    QuickFacts* quick = work.quick;
    if (quick != nullptr && quick->vouched[index])
        return Decision::Keep;
    const bool toRecord = quick != nullptr && quick->settled[index];
    const bool toFlush = toRecord && !quick->writtenOut[index];
    bool flushable = false;
    const UniqueFile file = OpenToCheck(localPath, toFlush, flushable);
    if (!file)
        return Decision::Queue;
    LARGE_INTEGER size = {};
    ::GetFileSizeEx(file.get(), &size);
    if (static_cast<std::uint64_t>(size.QuadPart) != entry.size)
        return Decision::Queue;
    Sha256HexDigits hex;
    if (!Sha256OpenFileHex(file.get(), buffer, kBufferSize, work.stop, hex))
        return work.stop.load() ? Decision::Stopped : Decision::Queue;
    const bool same = entry.sha256.size() == hex.size() &&
                      std::memcmp(entry.sha256.data(), hex.data(), hex.size()) == 0;
    if (same && toRecord && flushable == toFlush)
        quick->verified[index] = VerifiedAsListed(file.get(), quick->states[index], toFlush);
    return same ? Decision::Keep : Decision::Queue;
}

// One thread of the pool, the calling thread included. Allocates nothing, so nothing can escape.
void CheckThread(Work& work, unsigned char* buffer) noexcept {
    for (;;) {
        const size_t at = work.next.fetch_add(1);
        if (at >= work.order.size())
            return;
        const size_t index = work.order[at];
        const Decision decision =
            work.stop.load() ? Decision::Stopped : Decide(work, index, buffer);
        if (decision == Decision::Stopped) {
            work.cancelled.store(true);
            return;
        }
        work.needed[index] = decision == Decision::Queue;
    }
}

}  // namespace

unsigned CheckPassThreads(const std::wstring& installDir) {
    if (VolumeIncursSeekPenalty(installDir))
        return 1;
    const unsigned hardware = std::thread::hardware_concurrency();
    return std::min(std::max(hardware, 1u), kMaxThreads);
}

bool RunCheckPass(const std::wstring& installDir, const std::vector<ManifestEntry>& entries,
                  bool fullCheck, const std::atomic<bool>& stop, unsigned threads,
                  std::vector<ManifestEntry>& pending, QuickFacts* quick) {
    if (stop.load())
        return false;
    std::vector<char> needed(entries.size(), 0);
    std::vector<std::wstring> localPaths(entries.size());
    std::vector<size_t> order;
    order.reserve(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        if (fullCheck && !entries[i].ifMissing) {
            needed[i] = 1;
            continue;
        }
        localPaths[i] = LocalPathFor(installDir, entries[i].relPath);
        order.push_back(i);
    }

    // No more threads than files to look at.
    threads = std::min(
        {threads, kMaxThreads, static_cast<unsigned>(std::min<size_t>(order.size(), kMaxThreads))});
    threads = std::max(threads, 1u);
    if (threads > 1) {
        // One file's digest cannot be shared out, so the largest files go first and the last ones
        // still running are small: one huge file among thousands keeps every thread busy to the
        // end. Alone, a thread keeps manifest order, which is closer to how the files were written.
        const auto weight = [&entries](size_t i) {
            return entries[i].ifMissing ? std::uint64_t{0} : entries[i].size;
        };
        std::stable_sort(order.begin(), order.end(),
                         [&weight](size_t a, size_t b) { return weight(a) > weight(b); });
    }

    // Memory stays at one buffer per thread whatever the files weigh.
    std::unique_ptr<unsigned char[]> buffers(new unsigned char[size_t{threads} * kBufferSize]);
    Work work{entries, localPaths, order, needed, stop, quick};
    std::vector<std::thread> helpers;
    helpers.reserve(threads - 1);
    for (unsigned t = 1; t < threads; ++t) {
        // std::thread reports a failed creation only by throwing; with fewer helpers the calling
        // thread still takes whatever is left.
        try {
            helpers.emplace_back(CheckThread, std::ref(work),
                                 buffers.get() + size_t{t} * kBufferSize);
        } catch (...) {
            break;
        }
    }
    CheckThread(work, buffers.get());
    for (std::thread& helper : helpers)
        helper.join();

    if (work.cancelled.load())
        return false;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (needed[i])
            pending.push_back(entries[i]);
    }
    return true;
}
