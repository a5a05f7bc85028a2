// SHA-256 of whole files, streamed in 1 MiB blocks, and of many files at once
// on a small pool of threads.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "portable/net/sha256.h"

namespace talvora {

constexpr std::size_t kHashBlockSize = 1024 * 1024;

struct FileDigest {
    std::string sha256;      // 64 lower-case hex digits; empty on failure
    std::uint64_t size = 0;  // bytes actually hashed
    std::string error;       // why it failed
};

// Counters the hashing threads update as they go, for a progress display.
struct HashProgress {
    std::atomic<std::uint64_t> bytes{0};
    std::atomic<std::size_t> files{0};
};

// Hashes one file through `buffer` (resized to one block if smaller), so
// memory does not grow with the file. `progress` may be null.
FileDigest Sha256File(const std::filesystem::path& path, std::vector<unsigned char>& buffer,
                      HashProgress* progress);

// Hashes every path on up to `threads` threads (0: one per core), each thread
// taking the next unclaimed file. Results are in the order of `paths`. While
// the threads run, the calling thread calls `tick` about ten times a second
// (if given) and once more at the end.
std::vector<FileDigest> Sha256Files(const std::vector<std::filesystem::path>& paths,
                                    unsigned threads, HashProgress& progress,
                                    const std::function<void()>& tick);

}  // namespace talvora
