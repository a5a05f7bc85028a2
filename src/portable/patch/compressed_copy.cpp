#include "portable/patch/compressed_copy.h"

#include <array>

#include "portable/net/decimal.h"
#include "portable/net/hex_digest.h"

CopyFault CheckCompressedCopy(const ManifestEntry& entry) {
    if (entry.ifMissing || entry.blocks)
        return CopyFault::Flagged;
    if (entry.compressedSize == 0 || entry.compressedSize >= entry.size)
        return CopyFault::NotSmaller;
    std::array<unsigned char, 32> digest{};
    if (!ParseHexDigest(entry.compressedSha256, digest.data(), digest.size()))
        return CopyFault::Digest;
    return CopyFault::None;
}

const char* CopyFaultText(CopyFault fault) {
    switch (fault) {
        case CopyFault::None:
            return "no fault";
        case CopyFault::Flagged:
            return "IFMISSING and BLOCKS files are published raw only";
        case CopyFault::NotSmaller:
            return "the compressed copy is not smaller than the file";
        case CopyFault::Digest:
            return "the compressed copy's SHA-256 is not 64 lower-case hex digits";
    }
    return "unknown fault";
}

void ReadCompressedCopy(const std::string& sizeField, const std::string& sha256Field,
                        ManifestEntry& entry) {
    const DecimalRead size = ReadDecimal(sizeField);
    // Only the form the publisher writes, so that a line reads back exactly as it was written.
    if (size.negative || size.overflow || std::to_string(size.magnitude) != sizeField)
        return;
    entry.compressedSize = size.magnitude;
    entry.compressedSha256 = sha256Field;
    if (CheckCompressedCopy(entry) != CopyFault::None) {
        entry.compressedSize = 0;
        entry.compressedSha256.clear();
    }
}

std::string CompressedCopyPath(const std::string& relPath) {
    return relPath + kCompressedCopySuffix;
}
