#include "portable/patch/block_index.h"

#include "portable/net/hex_digest.h"

#include <cstring>

#include "portable/patch/xxh64.h"

namespace {

constexpr char kMagic[8] = {'T', 'L', 'V', 'B', 'L', 'K', 'S', '1'};

void PutLe(std::string& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

std::uint64_t GetLe(const std::string& in, std::size_t at, int bytes) {
    std::uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(in[at + static_cast<std::size_t>(i)]);
    return value;
}

bool IsPowerOfTwo(std::uint64_t value) {
    return value != 0 && (value & (value - 1)) == 0;
}

}  // namespace

RollingSum ComputeRollingSum(const unsigned char* data, std::size_t size) {
    RollingSum sum;
    const auto n = static_cast<std::uint32_t>(size);
    for (std::size_t i = 0; i < size; ++i) {
        sum.a += data[i];
        sum.b += (n - static_cast<std::uint32_t>(i)) * data[i];
    }
    return sum;
}

bool Xxh64BlockDigest(const unsigned char* data, std::size_t size, BlockDigest& digest) {
    const std::uint64_t hash = Xxh64(data, size, 0);
    digest.fill(0);
    for (std::size_t i = 0; i < 8; ++i)
        digest[i] = static_cast<unsigned char>(hash >> (8 * i));
    return true;
}

std::uint64_t BlockCountFor(std::uint64_t fileSize, std::uint32_t blockSize) {
    return fileSize / blockSize + (fileSize % blockSize != 0 ? 1 : 0);
}

std::uint32_t ChooseBlockSize(std::uint64_t fileSize) {
    for (std::uint32_t size = kDefaultBlockSize; size <= kMaxBlockSize; size *= 2) {
        if (BlockCountFor(fileSize, size) <= kMaxBlockCount)
            return size;
    }
    return 0;
}

std::string FormatBlockIndex(const BlockIndex& index) {
    std::string out(kMagic, sizeof kMagic);
    out.reserve(kBlockIndexHeaderSize + index.blocks.size() * kBlockRecordSize);
    PutLe(out, index.blockSize, 4);
    PutLe(out, static_cast<std::uint32_t>(index.digestKind), 4);
    PutLe(out, index.fileSize, 8);
    PutLe(out, index.blocks.size(), 8);
    out.append(reinterpret_cast<const char*>(index.fileSha256.data()), index.fileSha256.size());
    for (const BlockSum& block : index.blocks) {
        PutLe(out, block.weak, 8);
        out.append(reinterpret_cast<const char*>(block.strong.data()), block.strong.size());
    }
    return out;
}

bool ParseBlockIndex(const std::string& body, BlockIndex& index, std::string& error) {
    if (body.size() < kBlockIndexHeaderSize ||
        std::memcmp(body.data(), kMagic, sizeof kMagic) != 0) {
        error = "not a block index";
        return false;
    }
    const std::uint64_t blockSize = GetLe(body, 8, 4);
    const std::uint64_t fileSize = GetLe(body, 16, 8);
    const std::uint64_t count = GetLe(body, 24, 8);
    if (!IsPowerOfTwo(blockSize) || blockSize < kMinBlockSize || blockSize > kMaxBlockSize) {
        error = "block size out of range";
        return false;
    }
    const std::uint64_t kind = GetLe(body, 12, 4);
    if (kind != static_cast<std::uint32_t>(BlockDigestKind::Sha256Half) &&
        kind != static_cast<std::uint32_t>(BlockDigestKind::Xxh64)) {
        error = "unknown kind of block digest";
        return false;
    }
    if (count > kMaxBlockCount ||
        count != BlockCountFor(fileSize, static_cast<std::uint32_t>(blockSize))) {
        error = "block count does not fit the file size";
        return false;
    }
    // count is bounded above, so this product cannot overflow.
    if (body.size() != kBlockIndexHeaderSize + count * kBlockRecordSize) {
        error = "index length does not fit the block count";
        return false;
    }
    index.blockSize = static_cast<std::uint32_t>(blockSize);
    index.digestKind = static_cast<BlockDigestKind>(kind);
    index.fileSize = fileSize;
    std::memcpy(index.fileSha256.data(), body.data() + 32, index.fileSha256.size());
    index.blocks.assign(static_cast<std::size_t>(count), BlockSum());
    std::size_t at = kBlockIndexHeaderSize;
    for (BlockSum& block : index.blocks) {
        block.weak = GetLe(body, at, 8);
        std::memcpy(block.strong.data(), body.data() + at + 8, block.strong.size());
        at += kBlockRecordSize;
    }
    return true;
}

bool ParseSha256Hex(const std::string& hex, FileSha256& digest) {
    return ParseHexDigest(hex, digest.data(), digest.size());
}
