// Sha256FileHex against the plainest bcrypt loop over the same file, in one process. Runs
// alternate so that caching and machine noise touch both alike; the best run of each counts.
#include <windows.h>
#include <bcrypt.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "portable/unique_handle.h"
#include "support/file_digest.h"

namespace {

std::string PlainBcryptLoop(const std::wstring& path) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::string();
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    ::BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    ::BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0);
    std::unique_ptr<UCHAR[]> buffer(new UCHAR[1 << 20]);
    DWORD got = 0;
    while (::ReadFile(file, buffer.get(), 1 << 20, &got, nullptr) && got > 0) {
        ::BCryptHashData(hash, buffer.get(), got, 0);
    }
    UCHAR digest[32];
    ::BCryptFinishHash(hash, digest, 32, 0);
    ::BCryptDestroyHash(hash);
    ::BCryptCloseAlgorithmProvider(algorithm, 0);
    ::CloseHandle(file);
    char hex[65];
    for (int i = 0; i < 32; ++i)
        std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
    return std::string(hex, 64);
}

template <typename F>
double Seconds(F&& f, std::string& result) {
    const auto start = std::chrono::steady_clock::now();
    result = f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: hash_bench FILE [ROUNDS]\n");
        return 2;
    }
    const std::wstring path = argv[1];
    const int rounds = argc > 2 ? _wtoi(argv[2]) : 3;
    WIN32_FILE_ATTRIBUTE_DATA info = {};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &info))
        return 1;
    const double mib =
        ((static_cast<double>(info.nFileSizeHigh) * 4294967296.0) + info.nFileSizeLow) / 1048576.0;

    double bestOurs = 1e30, bestPlain = 1e30;
    std::string ours, plain;
    for (int i = 0; i < rounds; ++i) {
        const double p = Seconds([&] { return PlainBcryptLoop(path); }, plain);
        const double o = Seconds([&] { return Sha256FileHex(path); }, ours);
        if (p < bestPlain)
            bestPlain = p;
        if (o < bestOurs)
            bestOurs = o;
    }
    if (ours != plain || ours.empty()) {
        std::printf("MISMATCH ours=%s plain=%s\n", ours.c_str(), plain.c_str());
        return 1;
    }
    std::printf("digest %s\n", ours.c_str());
    std::printf("Sha256FileHex: %.1f MiB/s (%.2f s)\n", mib / bestOurs, bestOurs);
    std::printf("plain bcrypt loop: %.1f MiB/s (%.2f s)\n", mib / bestPlain, bestPlain);
    std::printf("ratio Sha256FileHex / plain bcrypt loop: %.3f\n", bestPlain / bestOurs);
    return 0;
}
