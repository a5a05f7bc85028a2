#include "compressed_copies.h"

#include <system_error>
#include <vector>

#include "atomic_file.h"
#include "input_file.h"
#include "portable/net/hex_digest.h"
#include "portable/net/sha256.h"
#include "portable/patch/compressed_copy.h"
#include "portable/patch/zlib_stream.h"
#include "text.h"

namespace fs = std::filesystem;

namespace talvora {

namespace {

constexpr std::size_t kReadBlock = 1024 * 1024;
constexpr int kLevel = 6;  // zlib's default: most of the saving at a fraction of 9's time

fs::path CopyPathOf(const fs::path& clientDir, const std::string& relPath) {
    return clientDir / PathFromUtf8(CompressedCopyPath(relPath));
}

// Reads the file through `each` in blocks; false with `error` on a read failure.
template <typename Each>
bool ReadBlocks(const fs::path& path, std::string& error, Each each) {
    InputFile file;
    if (!file.Open(path, error))
        return false;
    std::vector<unsigned char> buffer(kReadBlock);
    for (;;) {
        const long long got = file.Read(buffer.data(), buffer.size(), error);
        if (got < 0)
            return false;
        if (got == 0)
            return true;
        if (!each(buffer.data(), static_cast<std::size_t>(got)))
            return true;
    }
}

std::string HexOf(const Sha256Digest& digest) {
    return HexDigest(digest.data(), digest.size());
}

// The file's bytes deflated into `copy`, and their digest checked against the entry's.
bool Deflate(const fs::path& path, const ManifestEntry& entry, std::string& copy,
             std::string& error) {
    ZlibDeflater deflater(kLevel, [&copy](const char* data, std::size_t size) {
        copy.append(data, size);
        return true;
    });
    Sha256 raw;
    std::uint64_t size = 0;
    bool fed = true;
    const bool read = ReadBlocks(path, error, [&](const unsigned char* data, std::size_t got) {
        raw.Update(data, got);
        size += got;
        fed = deflater.Feed(data, got);
        return fed;
    });
    Sha256Digest digest;
    if (!read)
        return false;
    if (!fed || !deflater.Finish() || !raw.Finish(digest)) {
        error = "compression failed";
        return false;
    }
    if (size != entry.size || HexOf(digest) != entry.sha256) {
        error = "changed while being read";
        return false;
    }
    return true;
}

bool RemoveEarlierCopy(const fs::path& copyPath, std::string& error) {
    if (!IsCompressedCopyFile(copyPath))
        return true;
    std::error_code ec;
    fs::remove(copyPath, ec);
    if (ec)
        error = "cannot remove the earlier compressed copy: " + ec.message();
    return !ec;
}

}  // namespace

bool IsCompressedCopyFile(const fs::path& path) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec))
        return false;
    ZlibInflater inflater(~std::uint64_t{0}, [](const char*, std::size_t) { return true; });
    std::string error;
    bool fed = true;
    return ReadBlocks(path, error,
                      [&](const unsigned char* data, std::size_t got) {
                          fed = inflater.Feed(data, got);
                          return fed;
                      }) &&
           fed && inflater.Finish();
}

CopyResult WriteCompressedCopy(const fs::path& clientDir, ManifestEntry& entry,
                               unsigned minSavingPercent, std::string& error) {
    const fs::path path = clientDir / PathFromUtf8(entry.relPath);
    const fs::path copyPath = CopyPathOf(clientDir, entry.relPath);
    std::string copy;
    if (entry.size > kMaxCompressedFileBytes || entry.ifMissing || entry.blocks) {
        return RemoveEarlierCopy(copyPath, error) ? CopyResult::NotWorthIt : CopyResult::Failed;
    }
    if (!Deflate(path, entry, copy, error))
        return CopyResult::Failed;
    Sha256Digest digest;
    ManifestEntry named = entry;
    named.compressedSize = copy.size();
    if (Sha256Of(copy.data(), copy.size(), digest))
        named.compressedSha256 = HexOf(digest);
    const bool worthIt = copy.size() * 100 <= entry.size * (100 - minSavingPercent);
    if (!worthIt || CheckCompressedCopy(named) != CopyFault::None)
        return RemoveEarlierCopy(copyPath, error) ? CopyResult::NotWorthIt : CopyResult::Failed;
    if (!WriteFileAtomically(copyPath, copy, error))
        return CopyResult::Failed;
    entry = named;
    return CopyResult::Done;
}

}  // namespace talvora
