#include "net/file_hash.h"

#include "app/unique_handle.h"
#include "net/hex_digest.h"

#include <windows.h>
#include <bcrypt.h>

#include <atomic>
#include <memory>
#include <optional>

namespace {

constexpr DWORD kReadBufferSize = 1u << 20;

struct AlgorithmTraits {
    using Type = BCRYPT_ALG_HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::BCryptCloseAlgorithmProvider(h, 0); }
};

struct HashTraits {
    using Type = BCRYPT_HASH_HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::BCryptDestroyHash(h); }
};

bool Succeeded(NTSTATUS status) {
    return status >= 0;
}

// A fresh 1 MiB block costs about 3 ms under Wine before the first byte is read (every page is
// faulted in on first touch), more than hashing a typical 300 KiB pack file; the check pass hashes
// thousands of files. So one zero-filled buffer is kept for the process and lent to one caller at
// a time; a caller that finds it lent out allocates its own.
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

std::string Sha256FileHex(const std::wstring& path) {
    // Writers are not let in, so a file still being written by someone else gives no digest.
    UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return std::string();

    UniqueHandle<AlgorithmTraits> algorithm;
    if (!Succeeded(
            ::BCryptOpenAlgorithmProvider(algorithm.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
        return std::string();
    }
    // Declared before the hash so that the hash object is destroyed first.
    std::optional<ReadBuffer> buffer;
    UniqueHandle<HashTraits> hash;
    if (!Succeeded(::BCryptCreateHash(algorithm.get(), hash.put(), nullptr, 0, nullptr, 0, 0))) {
        return std::string();
    }

    buffer.emplace();
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file.get(), buffer->get(), kReadBufferSize, &got, nullptr) || got == 0) {
            break;
        }
        if (!Succeeded(::BCryptHashData(hash.get(), buffer->get(), got, 0)))
            return std::string();
    }

    UCHAR digest[32] = {};
    if (!Succeeded(::BCryptFinishHash(hash.get(), digest, sizeof digest, 0)))
        return std::string();

    return HexDigest(digest, sizeof digest);
}
