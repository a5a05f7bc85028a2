// Two measurements for bench/blocks, each in this process:
//   run MANIFEST_URL INSTALL_DIR   one whole update run; seconds from the start and from the first
//                                  download to the end, and the final status line
//   scan FILE INDEX                the block scan of FILE against INDEX, against one plain
//                                  SHA-256 pass over the same file (bcrypt, as the check pass)
#include <windows.h>

#include <chrono>
#include <algorithm>
#include <cstdio>
#include <string>
#include <thread>

#include "patch/patch_status.h"
#include "platform/kernel_handles.h"
#include "support/file_digest.h"
#include "portable/patch/block_match.h"
#include "patch/patch_worker.h"

#include <bcrypt.h>

namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

int Run(const std::wstring& manifestUrl, const std::wstring& installDir) {
    PatchStatus status;
    status.manifestUrl = manifestUrl;
    status.installDir = installDir;
    const auto start = Clock::now();
    StartPatchRun(status, false);
    double downloadStart = -1;
    while (status.busy.load()) {
        if (downloadStart < 0 && status.phase.load() == PatchPhase::Downloading)
            downloadStart = Since(start);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    const double total = Since(start);
    status.workerThread.join();
    std::printf("total_s %.2f\ninstall_s %.2f\nphase %d\n", total,
                downloadStart < 0 ? 0.0 : total - downloadStart,
                static_cast<int>(status.phase.load()));
    return status.phase.load() == PatchPhase::Updated ? 0 : 1;
}

std::string ReadWhole(const std::wstring& path) {
    UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER size = {};
    if (!file || !::GetFileSizeEx(file.get(), &size))
        return std::string();
    std::string body(static_cast<std::size_t>(size.QuadPart), '\0');
    DWORD got = 0;
    if (!::ReadFile(file.get(), body.data(), static_cast<DWORD>(body.size()), &got, nullptr))
        return std::string();
    body.resize(got);
    return body;
}

int Scan(const std::wstring& file, const std::wstring& indexPath) {
    const std::string body = ReadWhole(indexPath);
    BlockIndex index;
    std::string error;
    if (!ParseBlockIndex(body, index, error)) {
        std::printf("bad index: %s\n", error.c_str());
        return 1;
    }
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    ::BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    UniqueFile local(::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    std::uint64_t size = 0;
    const SequentialRead read = [&](unsigned char* buffer, std::size_t want) -> long long {
        DWORD got = 0;
        const bool ok = ::ReadFile(local.get(), buffer, static_cast<DWORD>(want), &got, nullptr);
        size += got;
        return ok ? got : -1;
    };
    const BlockDigestFn sha256Half = [&](const unsigned char* data, std::size_t n,
                                         BlockDigest& out) {
        BCRYPT_HASH_HANDLE hash = nullptr;
        UCHAR full[32];
        const bool ok =
            ::BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) >= 0 &&
            ::BCryptHashData(hash, const_cast<PUCHAR>(data), static_cast<ULONG>(n), 0) >= 0 &&
            ::BCryptFinishHash(hash, full, sizeof full, 0) >= 0;
        if (hash)
            ::BCryptDestroyHash(hash);
        std::copy_n(full, out.size(), out.begin());
        return ok;
    };
    const BlockDigestFn digest =
        index.digestKind == BlockDigestKind::Xxh64 ? BlockDigestFn(Xxh64BlockDigest) : sha256Half;
    auto start = Clock::now();
    BlockMatch match;
    const bool ok = MatchLocalBlocks(index, read, digest, {}, match);
    const double scan = Since(start);
    ::BCryptCloseAlgorithmProvider(algorithm, 0);
    std::size_t found = 0;
    for (std::uint64_t offset : match.localOffset)
        found += offset != kNoLocalSource ? 1 : 0;
    start = Clock::now();
    const bool hashed = !Sha256FileHex(file).empty();
    const double sha = Since(start);
    // The scan may give up before the end of a file it shares nothing with: its speed is over the
    // bytes it read, the hash's over the whole file.
    LARGE_INTEGER whole = {};
    ::GetFileSizeEx(local.get(), &whole);
    const double mib = static_cast<double>(size) / 1048576.0;
    const double wholeMib = static_cast<double>(whole.QuadPart) / 1048576.0;
    std::printf("scan: %.1f MiB/s (%.2f s over %.0f MiB%s), %zu of %zu blocks found locally\n",
                mib / scan, scan, mib, match.stoppedEarly ? ", then gave up" : "", found,
                match.localOffset.size());
    std::printf("plain SHA-256 pass: %.1f MiB/s (%.2f s)\n", wholeMib / sha, sha);
    std::printf("ratio scan / SHA-256 speed: %.2f\n", (mib / scan) / (wholeMib / sha));
    return ok && hashed ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 4 && std::wstring(argv[1]) == L"run")
        return Run(argv[2], argv[3]);
    if (argc == 4 && std::wstring(argv[1]) == L"scan")
        return Scan(argv[2], argv[3]);
    std::fprintf(stderr,
                 "usage: blocks_bench run MANIFEST_URL INSTALL_DIR\n"
                 "       blocks_bench scan FILE INDEX\n");
    return 2;
}
