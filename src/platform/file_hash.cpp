#include "platform/file_hash.h"

#include "platform/kernel_handles.h"
#include "portable/net/hex_digest.h"
#include "portable/net/sha256.h"

#include <windows.h>

#include <atomic>
#include <memory>

namespace {

constexpr DWORD kReadBufferSize = 1u << 20;

// A fresh 1 MiB block costs about 3 ms under Wine before the first byte is read (every page is
// faulted in on first touch), more than hashing a typical 300 KiB pack file, and a staging file is
// read back whenever its digest could not be taken as it was written. So one zero-filled buffer is
// kept for the process and lent to one caller at a time; a caller that finds it lent out allocates
// its own. (The check pass lends its threads their own.)
UCHAR gSharedBuffer[kReadBufferSize];
std::atomic<bool> gSharedBufferLent{false};

class ReadBuffer {
  public:
    ReadBuffer() {
        if (!gSharedBufferLent.exchange(true)) {
            data_ = gSharedBuffer;
        } else {
            owned_.reset(new UCHAR[kReadBufferSize]());
            data_ = owned_.get();
        }
    }
    ~ReadBuffer() {
        if (!owned_)
            gSharedBufferLent.store(false);
    }
    ReadBuffer(const ReadBuffer&) = delete;
    ReadBuffer& operator=(const ReadBuffer&) = delete;
    UCHAR* get() const { return data_; }

  private:
    std::unique_ptr<UCHAR[]> owned_;
    UCHAR* data_ = nullptr;
};

}  // namespace

bool Sha256OpenFileHex(HANDLE file, unsigned char* buffer, DWORD bufferSize,
                       const std::atomic<bool>& stop, Sha256HexDigits& hex) noexcept {
    // The platform's state lives in the object; a failure to make it is a hash that is not Ok.
    Sha256 hash;
    if (!hash.Ok())
        return false;

    for (;;) {
        if (stop.load(std::memory_order_relaxed))
            return false;
        DWORD got = 0;
        // A read that fails part-way has no digest: a hash of the bytes before it would be wrong.
        if (!::ReadFile(file, buffer, bufferSize, &got, nullptr))
            return false;
        if (got == 0)
            break;
        if (!hash.Update(buffer, got))
            return false;
    }

    Sha256Digest digest;
    if (!hash.Finish(digest))
        return false;
    HexDigestTo(digest.data(), digest.size(), hex.data());
    return true;
}

std::string Sha256RestOfFileHex(HANDLE file) {
    static const std::atomic<bool> kNeverStop{false};
    ReadBuffer buffer;
    Sha256HexDigits hex;
    if (!Sha256OpenFileHex(file, buffer.get(), kReadBufferSize, kNeverStop, hex))
        return std::string();
    return std::string(hex.data(), hex.size());
}
