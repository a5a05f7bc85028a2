// The check pass of an up-to-date installation (a whole normal run until UpToDate) against the
// plainest bcrypt loop over the same files in one process, and the memory such a run costs.
//   checkpass_bench MANIFEST_URL INSTALL_DIR [ROUNDS]   timing, runs alternating, best of each
//   checkpass_bench --memory MANIFEST_URL INSTALL_DIR   one run, peak memory before and after
#include <windows.h>
#include <bcrypt.h>
#include <psapi.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/patch_status.h"
#include "patch/patch_worker.h"
#include "support/test_files.h"

namespace {

// One provider for all files, one 1 MiB buffer, one hash object per file.
std::uint64_t PlainBcryptLoop(const std::vector<std::wstring>& files) {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    ::BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    std::unique_ptr<UCHAR[]> buffer(new UCHAR[1 << 20]);
    std::uint64_t bytes = 0;
    for (const std::wstring& path : files) {
        HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return 0;
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

    const int rounds = argc > first + 2 ? _wtoi(argv[first + 2]) : 3;
    std::vector<std::wstring> files;
    for (const std::wstring& name : ListTree(status.installDir)) {
        if (name.back() != L'\\')
            files.push_back(status.installDir + L"\\" + name);
    }
    const PROCESS_MEMORY_COUNTERS before = Memory();
    double bestRun = 1e30, bestPlain = 1e30;
    std::uint64_t bytes = 0;
    for (int i = 0; i < rounds; ++i) {
        bool ok = false;
        const double p = Seconds([&] { bytes = PlainBcryptLoop(files); });
        const double r = Seconds([&] { ok = NormalRun(status); });
        if (!ok || bytes == 0) {
            std::printf("run did not end UpToDate (phase %d) or files unreadable\n",
                        static_cast<int>(status.phase.load()));
            return 1;
        }
        if (r < bestRun)
            bestRun = r;
        if (p < bestPlain)
            bestPlain = p;
    }
    const PROCESS_MEMORY_COUNTERS after = Memory();
    const double mib = static_cast<double>(bytes) / 1048576.0;
    std::printf("files %zu, %.1f MiB\n", files.size(), mib);
    std::printf("normal run to UpToDate: %.1f MiB/s (%.2f s)\n", mib / bestRun, bestRun);
    std::printf("plain bcrypt loop: %.1f MiB/s (%.2f s)\n", mib / bestPlain, bestPlain);
    std::printf("ratio run / plain bcrypt loop: %.3f\n", bestPlain / bestRun);
    PrintMemory("memory", before, after);
    return 0;
}
