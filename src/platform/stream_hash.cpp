#include "platform/stream_hash.h"

#include "portable/net/hex_digest.h"

namespace {

// Enough for the writer to stay a few buffers ahead of the hash.
constexpr int kBuffers = 4;

}  // namespace

StreamHash::StreamHash() {
    spoiled_ = !hash_.Ok();
    for (int i = 0; i < kBuffers; ++i) {
        storage_.emplace_back(new char[kBufferSize]);
        free_.push_back(storage_.back().get());
    }
    // std::thread reports a failed creation only by throwing: then nothing is hashed, and the
    // caller reads the file instead.
    try {
        thread_ = std::thread([this] { Run(); });
    } catch (...) {
        spoiled_ = true;
    }
}

StreamHash::~StreamHash() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        spoiled_ = true;  // what is still queued needs no hashing
    }
    changed_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void StreamHash::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty())
            return;
        const Piece piece = queue_.front();
        queue_.erase(queue_.begin());
        const bool hash = !spoiled_;
        lock.unlock();
        const bool ok = !hash || hash_.Update(piece.buffer, piece.size);
        lock.lock();
        spoiled_ = spoiled_ || !ok;
        free_.push_back(piece.buffer);
        changed_.notify_all();
    }
}

char* StreamHash::Acquire() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !free_.empty(); });
    char* buffer = free_.back();
    free_.pop_back();
    return buffer;
}

void StreamHash::Submit(char* buffer, DWORD size, std::uint64_t offset) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        spoiled_ = spoiled_ || offset != next_;
        next_ = offset + size;
        if (thread_.joinable())
            queue_.push_back({buffer, size});
        else
            free_.push_back(buffer);
    }
    changed_.notify_all();
}

void StreamHash::Release(char* buffer) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        free_.push_back(buffer);
    }
    changed_.notify_all();
}

std::string StreamHash::Finish(std::uint64_t size) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable())
        thread_.join();
    Sha256Digest digest;
    if (spoiled_ || next_ != size || !hash_.Finish(digest))
        return std::string();
    spoiled_ = true;  // a hash is finished once
    return HexDigest(digest.data(), digest.size());
}
