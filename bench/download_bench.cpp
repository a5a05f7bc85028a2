// HttpDownloadFile against the plainest WinHTTP loops over the same URL, in one process. Runs
// alternate so that caching and machine noise touch all alike; the best run of each counts.
#include <windows.h>
#include <winhttp.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/kernel_handles.h"
#include "net/http_client.h"

namespace {

// Session, connection and request as HttpDownloadFile makes them, then one loop: query, read
// into one fixed buffer, write (or drop) the bytes. No checks beyond what keeps it correct.
std::uint64_t PlainLoop(const std::wstring& url, const std::wstring& path, bool write) {
    UrlParts parts;
    if (!SplitUrl(url, parts))
        return 0;
    HINTERNET session =
        ::WinHttpOpen(L"TalvoraPatcher/1.0", 4, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    HINTERNET connection = ::WinHttpConnect(session, parts.host.c_str(), parts.port, 0);
    HINTERNET request = ::WinHttpOpenRequest(connection, L"GET", parts.path.c_str(), nullptr,
                                             WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, 0);
    std::uint64_t total = 0;
    if (::WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0,
                             0, 0) &&
        ::WinHttpReceiveResponse(request, nullptr)) {
        HANDLE file = write ? ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                            FILE_ATTRIBUTE_NORMAL, nullptr)
                            : INVALID_HANDLE_VALUE;
        std::vector<char> buffer(1 << 20);
        for (;;) {
            DWORD available = 0;
            if (!::WinHttpQueryDataAvailable(request, &available) || available == 0)
                break;
            if (available > buffer.size())
                available = static_cast<DWORD>(buffer.size());
            DWORD got = 0;
            if (!::WinHttpReadData(request, buffer.data(), available, &got) || got == 0)
                break;
            if (write) {
                DWORD written = 0;
                ::WriteFile(file, buffer.data(), got, &written, nullptr);
            }
            total += got;
        }
        if (write)
            ::CloseHandle(file);
    }
    ::WinHttpCloseHandle(request);
    ::WinHttpCloseHandle(connection);
    ::WinHttpCloseHandle(session);
    return total;
}

std::uint64_t Ours(const std::wstring& url, const std::wstring& path) {
    std::uint64_t last = 0;
    std::uint64_t chunks = 0;
    const CancelPredicate never = [] { return false; };
    const UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    const bool ok = file && HttpDownloadFile(
                                HttpSession::Open(), url, file.get(), never,
                                [&](std::uint64_t done, std::uint64_t) {
                                    last = done;
                                    ++chunks;
                                },
                                ~std::uint64_t{0});
    static bool told = false;
    if (!told) {
        std::printf(
            "HttpDownloadFile: %llu chunks, %.1f KiB on average\n",
            static_cast<unsigned long long>(chunks),
            chunks ? static_cast<double>(last) / 1024.0 / static_cast<double>(chunks) : 0.0);
        told = true;
    }
    return ok ? last : 0;
}

template <typename F>
double Seconds(F&& f, std::uint64_t& bytes) {
    const auto start = std::chrono::steady_clock::now();
    bytes = f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: download_bench URL DEST [ROUNDS]\n");
        return 2;
    }
    const std::wstring url = argv[1];
    const std::wstring dest = argv[2];
    const int rounds = argc > 3 ? _wtoi(argv[3]) : 3;

    double bestOurs = 1e30, bestWrite = 1e30, bestDrop = 1e30;
    std::uint64_t ours = 0, write = 0, drop = 0;
    for (int i = 0; i < rounds; ++i) {
        const double w = Seconds([&] { return PlainLoop(url, dest + L".loop", true); }, write);
        const double d = Seconds([&] { return PlainLoop(url, dest, false); }, drop);
        const double o = Seconds([&] { return Ours(url, dest); }, ours);
        if (w < bestWrite)
            bestWrite = w;
        if (d < bestDrop)
            bestDrop = d;
        if (o < bestOurs)
            bestOurs = o;
    }
    ::DeleteFileW((dest + L".loop").c_str());
    if (ours == 0 || ours != write || ours != drop) {
        std::printf("MISMATCH ours=%llu loop=%llu drop=%llu\n",
                    static_cast<unsigned long long>(ours), static_cast<unsigned long long>(write),
                    static_cast<unsigned long long>(drop));
        return 1;
    }
    const double mib = static_cast<double>(ours) / 1048576.0;
    std::printf("bytes %llu\n", static_cast<unsigned long long>(ours));
    std::printf("HttpDownloadFile: %.1f MiB/s (%.2f s)\n", mib / bestOurs, bestOurs);
    std::printf("plain WinHTTP loop writing the file: %.1f MiB/s (%.2f s)\n", mib / bestWrite,
                bestWrite);
    std::printf("plain WinHTTP loop dropping the bytes: %.1f MiB/s (%.2f s)\n", mib / bestDrop,
                bestDrop);
    std::printf("ratio HttpDownloadFile / plain loop writing: %.3f\n", bestWrite / bestOurs);
    std::printf("ratio HttpDownloadFile / plain loop dropping: %.3f\n", bestDrop / bestOurs);
    return 0;
}
