// The block index published beside a large file (`<path>.blocks`): the file cut into blocks of one
// fixed size, each with a weak rolling checksum and a strong digest, so that a launcher holding an
// older copy can tell which blocks it already has. Portable: no platform header; the SHA-256 of
// the first kind of strong digest comes from the caller.
//
// Layout, all numbers little-endian:
//   8 bytes   magic "TLVBLKS1"
//   u32       block size (a power of two, kMinBlockSize..kMaxBlockSize)
//   u32       kind of strong digest (BlockDigestKind)
//   u64       file size
//   u64       block count (the file size divided by the block size, rounded up)
//   32 bytes  SHA-256 of the whole file
//   per block: u64 weak checksum, 16 bytes strong digest
// A strong digest only confirms a weak match: the file a launcher builds is judged by the whole
// file's SHA-256 from the manifest, so a fast non-cryptographic digest is enough, and the scan of
// a local copy is no longer bound by the speed of SHA-256.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr std::uint32_t kDefaultBlockSize = 64u * 1024u;
constexpr std::uint32_t kMinBlockSize = 4u * 1024u;
constexpr std::uint32_t kMaxBlockSize = 16u * 1024u * 1024u;
// Bounds what an index can make a reader hold: 1 Mi blocks are 24 MiB of index and 64 GiB of file
// at the default block size; larger files take larger blocks.
constexpr std::uint64_t kMaxBlockCount = 1u << 20;
constexpr std::size_t kBlockIndexHeaderSize = 64;
constexpr std::size_t kBlockRecordSize = 24;

using BlockDigest = std::array<unsigned char, 16>;

enum class BlockDigestKind : std::uint32_t {
    // The first half of the block's SHA-256 (the first indexes published).
    Sha256Half = 0,
    // XXH64 of the block with seed 0, little-endian, then 8 zero bytes. What publishers write.
    Xxh64 = 1,
};
using FileSha256 = std::array<unsigned char, 32>;

struct BlockSum {
    std::uint64_t weak = 0;
    BlockDigest strong = {};
};

struct BlockIndex {
    std::uint32_t blockSize = kDefaultBlockSize;
    BlockDigestKind digestKind = BlockDigestKind::Xxh64;
    std::uint64_t fileSize = 0;
    FileSha256 fileSha256 = {};
    std::vector<BlockSum> blocks;
};

// The rolling checksum of a window: a = sum of bytes, b = sum of (n - i) * byte, both modulo
// 2^32; the value is b << 32 | a. Rolling it by one byte costs three additions.
struct RollingSum {
    std::uint32_t a = 0;
    std::uint32_t b = 0;
    std::uint64_t Value() const { return static_cast<std::uint64_t>(b) << 32 | a; }
};
RollingSum ComputeRollingSum(const unsigned char* data, std::size_t size);
// Slides a window of `windowSize` bytes one byte on: `out` leaves at the front, `in` enters.
inline void RollOne(RollingSum& sum, unsigned char out, unsigned char in,
                    std::uint32_t windowSize) {
    sum.a = sum.a - out + in;
    sum.b = sum.b - windowSize * static_cast<std::uint32_t>(out) + sum.a;
}

// The strong digest of kind Xxh64. Always succeeds; the signature fits a digest callback.
bool Xxh64BlockDigest(const unsigned char* data, std::size_t size, BlockDigest& digest);

// The block size a publisher uses for a file: the default, doubled until the block count fits.
// 0 when even the largest blocks would be too many.
std::uint32_t ChooseBlockSize(std::uint64_t fileSize);

// Blocks a file of `fileSize` bytes has at `blockSize`.
std::uint64_t BlockCountFor(std::uint64_t fileSize, std::uint32_t blockSize);

// The index as bytes. The caller has filled every block (BlockCountFor of the size).
std::string FormatBlockIndex(const BlockIndex& index);

// Reads an index, refusing anything out of bounds: wrong magic, an unknown kind of strong digest, a
// block size that is no power of two in range, a block count that does not follow from the file
// size or exceeds kMaxBlockCount, or a body of any other length than header plus records. On
// refusal `error` names the reason.
bool ParseBlockIndex(const std::string& body, BlockIndex& index, std::string& error);

// "0123...ef" of a SHA-256; false unless exactly 64 lower-case hex digits.
bool ParseSha256Hex(const std::string& hex, FileSha256& digest);
