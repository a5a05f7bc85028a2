// The record of verified files (the quick check): which state of each listed file was verified to
// have which SHA-256. A hint that saves hashing, never a reason to trust a changed file, so the
// reader takes a record only when every byte of it is what the writer makes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "portable/patch/manifest_format.h"

// What tells one state of a file from any other on its volume: a write, a resize, a rename over
// it or a replacement changes at least one of these. Times are in the file system's own units.
struct FileState {
    std::uint64_t size = 0;
    std::int64_t lastWrite = 0;
    std::int64_t changeTime = 0;
    std::uint64_t idHigh = 0;  // the file's id on its volume; 64-bit ids leave this zero
    std::uint64_t idLow = 0;
};

bool operator==(const FileState& a, const FileState& b);
bool operator!=(const FileState& a, const FileState& b);

struct VerifiedFile {
    std::string relPath;  // exactly as the manifest names it
    FileState state;
    std::string sha256;  // 64 lower-case hex digits
};

struct VerifiedRecord {
    std::string folder;  // the installation the record belongs to (its final path, UTF-8)
    std::vector<VerifiedFile> files;
};

// The record as bytes. A file whose path is empty or holds TAB, CR or LF, whose digest is not 64
// lower-case hex digits, or whose times are negative is left out; so is a folder with those bytes.
std::string FormatVerifiedRecord(const VerifiedRecord& record);

// Reads what FormatVerifiedRecord writes and nothing else: a record cut short, with another
// version line, a malformed or repeated file, or any byte after its end gives false.
bool ReadVerifiedRecord(const std::string& bytes, VerifiedRecord& record);

// The largest record the writer could make for these entries in this folder: a larger file is no
// record of theirs and is not read.
std::uint64_t VerifiedRecordCap(const std::string& folder,
                                const std::vector<ManifestEntry>& entries);
