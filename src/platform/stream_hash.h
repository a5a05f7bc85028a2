// The SHA-256 of a file's bytes taken as they are written, in order, on a thread of its own: a
// file built from many pieces is verified while it is built, not read a second time after.
#pragma once

#include <windows.h>

#include "portable/net/sha256.h"

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class StreamHash {
  public:
    static constexpr DWORD kBufferSize = 1u << 20;

    StreamHash();
    ~StreamHash();
    StreamHash(const StreamHash&) = delete;
    StreamHash& operator=(const StreamHash&) = delete;

    // A buffer of kBufferSize bytes to fill; waits while every buffer is being hashed.
    char* Acquire();
    // Hands an acquired buffer to the hashing thread: `size` bytes that were written at `offset`.
    // Bytes that do not continue the stream exactly spoil the digest (Finish then gives none).
    void Submit(char* buffer, DWORD size, std::uint64_t offset);
    // Gives back an acquired buffer unused.
    void Release(char* buffer);
    // After the last Submit: the lower-case hex SHA-256 when the bytes submitted were exactly
    // [0, size) in order and all were hashed, else empty.
    std::string Finish(std::uint64_t size);

  private:
    struct Piece {
        char* buffer;
        DWORD size;
    };
    void Run();

    std::vector<std::unique_ptr<char[]>> storage_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<char*> free_;
    std::vector<Piece> queue_;  // in submission order
    bool stopping_ = false;
    bool spoiled_ = false;    // a piece out of order, a hashing failure, or given up
    std::uint64_t next_ = 0;  // offset the next piece must start at
    Sha256 hash_;
    std::thread thread_;
};
