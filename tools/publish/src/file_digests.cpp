#include "file_digests.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "input_file.h"
#include "portable/net/hex_digest.h"

namespace talvora {

FileDigest Sha256File(const std::filesystem::path& path, std::vector<unsigned char>& buffer,
                      HashProgress* progress) {
    FileDigest result;
    if (buffer.size() < kHashBlockSize)
        buffer.resize(kHashBlockSize);
    InputFile file;
    if (!file.Open(path, result.error))
        return result;
    Sha256 hash;
    if (!hash.Ok()) {
        result.error = "cannot start SHA-256";
        return result;
    }
    while (true) {
        const long long got = file.Read(buffer.data(), kHashBlockSize, result.error);
        if (got < 0)
            return result;
        if (got == 0)
            break;
        if (!hash.Update(buffer.data(), static_cast<std::size_t>(got))) {
            result.error = "SHA-256 failed";
            return result;
        }
        result.size += static_cast<std::uint64_t>(got);
        if (progress != nullptr)
            progress->bytes += static_cast<std::uint64_t>(got);
    }
    Sha256Digest digest{};
    if (!hash.Finish(digest)) {
        result.error = "SHA-256 failed";
        return result;
    }
    result.sha256 = HexDigest(digest.data(), digest.size());
    return result;
}

std::vector<FileDigest> Sha256Files(const std::vector<std::filesystem::path>& paths,
                                    unsigned threads, HashProgress& progress,
                                    const std::function<void()>& tick) {
    std::vector<FileDigest> results(paths.size());
    if (threads == 0)
        threads = std::max(1u, std::thread::hardware_concurrency());
    threads = static_cast<unsigned>(
        std::min<std::size_t>(threads, std::max<std::size_t>(paths.size(), 1)));

    std::atomic<std::size_t> next{0};
    std::mutex mutex;
    std::condition_variable finished;
    unsigned running = threads;

    auto worker = [&]() {
        std::vector<unsigned char> buffer(kHashBlockSize);
        for (std::size_t i = next++; i < paths.size(); i = next++) {
            results[i] = Sha256File(paths[i], buffer, &progress);
            ++progress.files;
        }
        std::lock_guard<std::mutex> lock(mutex);
        --running;
        finished.notify_one();
    };

    std::vector<std::thread> pool;
    pool.reserve(threads);
    for (unsigned t = 0; t < threads; ++t)
        pool.emplace_back(worker);
    {
        std::unique_lock<std::mutex> lock(mutex);
        while (running > 0) {
            finished.wait_for(lock, std::chrono::milliseconds(100));
            if (tick) {
                lock.unlock();
                tick();
                lock.lock();
            }
        }
    }
    for (std::thread& t : pool)
        t.join();
    return results;
}

}  // namespace talvora
