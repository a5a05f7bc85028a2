// The check pass of an up-to-date installation (a whole normal run until UpToDate) against plain
// bcrypt loops over the same files in the same process: one thread, and the same number of
// threads as the check pass uses (the machine's ceiling for this work).
//   checkpass_bench MANIFEST_URL INSTALL_DIR [ROUNDS]   timing, runs alternating, best and worst
//   checkpass_bench --memory MANIFEST_URL INSTALL_DIR   one run, peak memory before and after
#include <windows.h>
#include <bcrypt.h>
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "patch/patch_status.h"
#include "patch/check_pass.h"
#include "patch/patch_worker.h"
#include "support/test_files.h"

namespace {

// The plainest loop: one provider, one 1 MiB buffer, one hash object per file, taking files from
// a shared counter until none is left. Returns the bytes hashed.
std::uint64_t PlainBcryptLoop(const std::vector<std::wstring>& files, std::atomic<size_t>& next) {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    ::BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    std::unique_ptr<UCHAR[]> buffer(new UCHAR[1 << 20]);
    std::uint64_t bytes = 0;
    for (size_t at = next++; at < files.size(); at = next++) {
        HANDLE file = ::CreateFileW(files[at].c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            continue;
        BCRYPT_HASH_HANDLE hash = nullptr;
        ::BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0);
        DWORD got = 0;
        while (::ReadFile(file, buffer.get(), 1 << 20, &got, nullptr) && got > 0) {
            ::BCryptHashData(hash, buffer.get(), got, 0);
            bytes += got;
        }
        UCHAR digest[32];
        ::BCryptFinishHash(hash, digest, 32, 0);
        ::BCryptDestroyHash(hash);
        ::CloseHandle(file);
    }
    ::BCryptCloseAlgorithmProvider(algorithm, 0);
    return bytes;
}

// The same loop on `threads` threads sharing one counter; `files` should come largest first, the
// best order for a shared counter.
std::uint64_t PlainLoopOnThreads(const std::vector<std::wstring>& files, unsigned threads) {
    std::atomic<size_t> next{0};
    std::vector<std::uint64_t> bytes(threads, 0);
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < threads; ++t)
        pool.emplace_back([&, t] { bytes[t] = PlainBcryptLoop(files, next); });
    bytes[0] = PlainBcryptLoop(files, next);
    for (std::thread& thread : pool)
        thread.join();
    std::uint64_t total = 0;
    for (std::uint64_t b : bytes)
        total += b;
    return total;
}

// A whole normal run, as the window starts it. Clearing busy is the worker's last step, so the
// join ends when UpToDate has been reached, and nothing polls beside the worker.
bool NormalRun(PatchStatus& status) {
    StartPatchRun(status, false);
    status.workerThread.join();
    return status.phase.load() == PatchPhase::UpToDate;
}

template <typename F>
double Seconds(F&& f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

PROCESS_MEMORY_COUNTERS Memory() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters);
    return counters;
}

double MiB(SIZE_T bytes) {
    return static_cast<double>(bytes) / 1048576.0;
}

void PrintMemory(const char* label, const PROCESS_MEMORY_COUNTERS& before,
                 const PROCESS_MEMORY_COUNTERS& after) {
    std::printf(
        "%s: peak working set %.1f MiB (+%.1f MiB over the run), peak pagefile %.1f MiB "
        "(+%.1f MiB)\n",
        label, MiB(after.PeakWorkingSetSize),
        MiB(after.PeakWorkingSetSize - before.PeakWorkingSetSize), MiB(after.PeakPagefileUsage),
        MiB(after.PeakPagefileUsage - before.PeakPagefileUsage));
}

// One figure over the rounds: best, median and worst.
struct Times {
    std::vector<double> seconds;
    void Add(double s) { seconds.push_back(s); }
    double Best() const { return *std::min_element(seconds.begin(), seconds.end()); }
    double Worst() const { return *std::max_element(seconds.begin(), seconds.end()); }
    double Median() const {
        std::vector<double> sorted = seconds;
        std::sort(sorted.begin(), sorted.end());
        return sorted[sorted.size() / 2];
    }
};

void PrintTimes(const char* label, const Times& t, double mib) {
    std::printf("%s: %.1f MiB/s (best %.2f s, median %.2f s, worst %.2f s)\n", label,
                mib / t.Best(), t.Best(), t.Median(), t.Worst());
}

std::uint64_t FileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    return (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const bool memoryOnly = argc > 1 && std::wstring(argv[1]) == L"--memory";
    const int first = memoryOnly ? 2 : 1;
    if (argc < first + 2) {
        std::fprintf(stderr,
                     "usage: checkpass_bench [--memory] MANIFEST_URL INSTALL_DIR [ROUNDS]\n");
        return 2;
    }
    PatchStatus status;
    status.manifestUrl = argv[first];
    status.installDir = argv[first + 1];
    const unsigned threads = CheckPassThreads(status.installDir);

    if (memoryOnly) {
        const PROCESS_MEMORY_COUNTERS before = Memory();
        const bool ok = NormalRun(status);
        const PROCESS_MEMORY_COUNTERS after = Memory();
        if (!ok) {
            std::printf("run did not end UpToDate (phase %d)\n",
                        static_cast<int>(status.phase.load()));
            return 1;
        }
        PrintMemory("memory", before, after);
        return 0;
    }

    const int rounds = std::max(1, argc > first + 2 ? _wtoi(argv[first + 2]) : 3);
    std::vector<std::pair<std::uint64_t, std::wstring>> sized;
    for (const std::wstring& name : ListTree(status.installDir)) {
        if (name.back() != L'\\') {
            const std::wstring path = status.installDir + L"\\" + name;
            sized.emplace_back(FileSize(path), path);
        }
    }
    std::vector<std::wstring> files, largestFirst;
    for (const auto& file : sized)
        files.push_back(file.second);
    std::stable_sort(sized.begin(), sized.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    for (const auto& file : sized)
        largestFirst.push_back(file.second);

    const PROCESS_MEMORY_COUNTERS before = Memory();
    Times run, single, split;
    std::uint64_t bytes = 0, splitBytes = 0;
    for (int i = 0; i < rounds; ++i) {
        bool ok = false;
        single.Add(Seconds([&] {
            std::atomic<size_t> next{0};
            bytes = PlainBcryptLoop(files, next);
        }));
        split.Add(Seconds([&] { splitBytes = PlainLoopOnThreads(largestFirst, threads); }));
        run.Add(Seconds([&] { ok = NormalRun(status); }));
        if (!ok || bytes == 0 || splitBytes != bytes) {
            std::printf("run did not end UpToDate (phase %d) or files unreadable\n",
                        static_cast<int>(status.phase.load()));
            return 1;
        }
    }
    const PROCESS_MEMORY_COUNTERS after = Memory();
    const double mib = static_cast<double>(bytes) / 1048576.0;
    std::printf(
        "files %zu, %.1f MiB, largest %.1f MiB; check pass threads %u (hardware %u), "
        "%d rounds\n",
        files.size(), mib, MiB(static_cast<SIZE_T>(sized.front().first)), threads,
        std::thread::hardware_concurrency(), rounds);
    PrintTimes("normal run to UpToDate", run, mib);
    PrintTimes("plain bcrypt loop, 1 thread", single, mib);
    std::printf("plain bcrypt loop, %u threads, largest first", threads);
    PrintTimes("", split, mib);
    std::printf("ratio run / plain loop on 1 thread: best %.3f, median %.3f (goal >= 1.7)\n",
                single.Best() / run.Best(), single.Median() / run.Median());
    std::printf("ratio run / plain loop on %u threads: best %.3f, median %.3f (goal >= 0.9)\n",
                threads, split.Best() / run.Best(), split.Median() / run.Median());
    PrintMemory("memory of the timing process", before, after);
    return 0;
}
