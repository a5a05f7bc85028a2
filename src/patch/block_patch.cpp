#include "patch/block_patch.h"

#include "platform/kernel_handles.h"
#include "portable/net/hex_digest.h"
#include "portable/net/sha256.h"
#include "platform/stream_hash.h"
#include "portable/patch/block_match.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// Local runs shorter than this between two fetched ones are fetched too: a request costs more.
constexpr std::uint64_t kMergeGap = 128u * 1024u;
// What a hostile index can make the launcher ask for, at most.
constexpr std::size_t kMaxRanges = 1024;
// The scan asks for large reads; one read stays within a DWORD.
constexpr DWORD kMaxScanRead = 64u << 20;

OVERLAPPED At(std::uint64_t offset) {
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return at;
}

bool WriteAt(HANDLE file, std::uint64_t offset, const char* data, DWORD size) {
    OVERLAPPED at = At(offset);
    DWORD written = 0;
    return ::WriteFile(file, data, size, &written, &at) && written == size;
}

bool ReadAt(HANDLE file, std::uint64_t offset, char* data, DWORD size) {
    OVERLAPPED at = At(offset);
    DWORD got = 0;
    return ::ReadFile(file, data, size, &got, &at) && got == size;
}

bool SetSize(HANDLE file, std::uint64_t size) {
    LARGE_INTEGER to = {};
    to.QuadPart = static_cast<LONGLONG>(size);
    return ::SetFilePointerEx(file, to, nullptr, FILE_BEGIN) && ::SetEndOfFile(file);
}

// Fetched bytes arrive in small chunks; they are gathered into one buffer per run of
// consecutive offsets, so the disk sees large writes, and each written buffer goes to the hash.
struct WriteBatch {
    HANDLE file;
    StreamHash& hash;
    char* data = nullptr;
    std::uint64_t offset = 0;
    DWORD used = 0;

    ~WriteBatch() {
        if (data != nullptr)
            hash.Release(data);
    }
    bool Flush() {
        if (used == 0)
            return true;
        const bool ok = WriteAt(file, offset, data, used);
        hash.Submit(data, used, offset);
        data = nullptr;
        offset += used;
        used = 0;
        return ok;
    }
    bool Add(std::uint64_t at, const char* bytes, std::size_t size) {
        while (size > 0) {
            if (used != 0 && (at != offset + used || used == StreamHash::kBufferSize) && !Flush())
                return false;
            if (data == nullptr) {
                data = hash.Acquire();
                offset = at;
            }
            const auto n =
                static_cast<DWORD>(std::min<std::size_t>(size, StreamHash::kBufferSize - used));
            std::memcpy(data + used, bytes, n);
            used += n;
            at += n;
            bytes += n;
            size -= n;
        }
        return true;
    }
};

// Copies `length` bytes of the local file into the staging file, through the hash.
bool CopyLocal(HANDLE local, HANDLE staging, const PlanPiece& piece, StreamHash& hash,
               const CancelPredicate& cancel) {
    for (std::uint64_t done = 0; done < piece.length;) {
        if (cancel && cancel())
            return false;
        const auto size = static_cast<DWORD>(
            std::min<std::uint64_t>(StreamHash::kBufferSize, piece.length - done));
        char* buffer = hash.Acquire();
        if (!ReadAt(local, piece.localOffset + done, buffer, size) ||
            !WriteAt(staging, piece.offset + done, buffer, size)) {
            hash.Release(buffer);
            return false;
        }
        hash.Submit(buffer, size, piece.offset + done);
        done += size;
    }
    return true;
}

// When the manifest names the index's digest, only that index is taken.
bool IsVouchedFor(const std::string& body, const ManifestEntry& entry) {
    if (entry.blocksSha256.empty())
        return true;
    Sha256Digest digest;
    return Sha256Of(body.data(), body.size(), digest) &&
           HexDigest(digest.data(), digest.size()) == entry.blocksSha256;
}

bool LoadIndex(const HttpSession& session, const std::wstring& url, const ManifestEntry& entry,
               const CancelPredicate& cancel, Retry retry, BlockIndex& index) {
    FileSha256 want;
    std::string body;
    std::string error;
    // No larger than any index of a file this size can be; the manifest, which may be signed,
    // must agree with it about the file, or it describes some other file.
    return ParseSha256Hex(entry.sha256, want) &&
           HttpGetText(session, url + L".blocks", body, cancel, MaxBlockIndexBytes(entry.size),
                       retry) &&
           IsVouchedFor(body, entry) && ParseBlockIndex(body, index, error) &&
           index.fileSize == entry.size && index.fileSha256 == want;
}

}  // namespace

std::uint64_t MaxBlockIndexBytes(std::uint64_t fileSize) {
    const std::uint64_t blocks = std::min(BlockCountFor(fileSize, kMinBlockSize), kMaxBlockCount);
    return kBlockIndexHeaderSize + blocks * kBlockRecordSize;
}

bool PatchByBlocks(const HttpSession& session, const std::wstring& url,
                   const std::wstring& localPath, HANDLE staging, const ManifestEntry& entry,
                   const CancelPredicate& cancel, const ProgressCallback& progress,
                   std::string& writtenSha256, Retry retry) {
    writtenSha256.clear();
    BlockIndex index;
    if (!LoadIndex(session, url, entry, cancel, retry, index))
        return false;

    UniqueFile local(::CreateFileW(localPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!local)
        return false;
    const SequentialRead read = [&local](unsigned char* buffer, std::size_t size) -> long long {
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, kMaxScanRead));
        return ::ReadFile(local.get(), buffer, want, &got, nullptr) ? got : -1;
    };
    const BlockDigestFn digest = BlockDigestFor(index.digestKind);
    BlockMatch match;
    if (!MatchLocalBlocks(index, read, digest, cancel, match))
        return false;
    const PatchPlan plan = PlanPatch(index, match, kMergeGap, kMaxRanges);

    // Written in file order, local runs and fetched ranges as they come, so the file grows at its
    // end only (a write far past the end would make the system fill the gap first), and its
    // SHA-256 is taken on the way.
    StreamHash hash;
    WriteBatch batch{staging, hash};
    std::uint64_t fetched = 0;
    for (const PlanPiece& piece : plan.pieces) {
        if (!piece.remote) {
            if (!CopyLocal(local.get(), staging, piece, hash, cancel))
                return false;
            continue;
        }
        // A body that starts before the range or runs past it is the whole file (status 200):
        // the bar then counts it against the file's size.
        const RangeSink sink = [&](std::uint64_t at, const char* data, std::size_t size) {
            const bool whole = at < piece.offset || at + size > piece.offset + piece.length;
            fetched = whole ? at + size : fetched + size;
            if (progress)
                progress(fetched, whole ? entry.size : plan.remoteBytes);
            return batch.Add(at, data, size);
        };
        const RangeFetch got = HttpFetchRange(session, url, {piece.offset, piece.length},
                                              entry.size, sink, cancel, retry);
        if (got == RangeFetch::Failed || !batch.Flush())
            return false;
        if (got == RangeFetch::DoneWhole) {
            // The whole file went over what was written before it: the caller reads it again.
            return SetSize(staging, entry.size);
        }
    }
    writtenSha256 = hash.Finish(entry.size);
    return true;
}
