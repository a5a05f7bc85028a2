// A file's compressed copy: the file as one zlib stream (RFC 1950), published beside it at its
// path plus kCompressedCopySuffix, and named on the file's manifest line by a fourth field
// kCompressedCopyWord followed by the copy's size and SHA-256:
//   path<TAB>size<TAB>sha256<TAB>ZLIB<TAB>copy size<TAB>copy sha256
// Launchers that do not know the word read such a line as a plain file and fetch the raw one,
// which stays published. The launcher takes a copy only from a line that obeys the rules below
// (otherwise it reads the line as they do), and the publisher writes no line that breaks them.
#pragma once

#include <cstdint>
#include <string>

#include "portable/patch/manifest_format.h"

constexpr char kCompressedCopyWord[] = "ZLIB";
constexpr char kCompressedCopySuffix[] = ".zlib";

enum class CopyFault {
    None,
    Flagged,     // an IFMISSING or BLOCKS file: those always travel raw
    NotSmaller,  // the copy is empty or not smaller than the file
    Digest,      // its SHA-256 is not 64 lower-case hex digits
};

// The first rule that the copy named by `entry` (compressedSize, compressedSha256) breaks.
CopyFault CheckCompressedCopy(const ManifestEntry& entry);

// Why a copy with this fault is not written, in English, for the publisher's messages.
const char* CopyFaultText(CopyFault fault);

// The size and digest fields after the word, as a line carries them: `entry` gets the copy when
// the size is plain decimal (no sign, space or leading zero) and the copy obeys the rules, and
// keeps none otherwise.
void ReadCompressedCopy(const std::string& sizeField, const std::string& sha256Field,
                        ManifestEntry& entry);

// Where the copy of the file at `relPath` lies, relative to the manifest's BASE.
std::string CompressedCopyPath(const std::string& relPath);
