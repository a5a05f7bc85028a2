// The patch manifest as text: VERSION and BASE lines, then one line per file (path, size,
// SHA-256, optional IFMISSING or BLOCKS, the latter optionally followed by the SHA-256 of the
// block index, or ZLIB followed by a compressed copy's size and SHA-256: compressed_copy.h), TAB
// between fields, LF after each line. Read by the
// launcher and written by the publisher, byte for byte the same format.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One file line of the patch manifest. Text fields stay as the server wrote them (UTF-8 bytes).
struct ManifestEntry {
    std::string relPath;
    std::uint64_t size = 0;
    std::string sha256;
    bool ifMissing = false;
    // BLOCKS: a block index lies beside the file on the server, so an older copy can be patched
    // by fetching only the blocks it lacks. Never together with ifMissing.
    bool blocks = false;
    // The SHA-256 of that index (64 lower-case hex digits) when the line names it in a fifth
    // field: a signed manifest then vouches for the index too. Empty when it does not; launchers
    // that do not know the field pass over it.
    std::string blocksSha256 = std::string();
    // ZLIB: a smaller compressed copy of the file lies beside it on the server, and these are its
    // size and SHA-256 (compressed_copy.h). Zero and empty when the line names none; only ever
    // set on a line that obeys the copy's rules.
    std::uint64_t compressedSize = 0;
    std::string compressedSha256 = std::string();
};

// A manifest's content as bytes; `baseUrl` is the value of the last BASE line, if there was one.
struct ManifestText {
    bool hasBase = false;
    std::string baseUrl;
    std::vector<ManifestEntry> entries;
};

// Splits one line at every TAB; CR bytes are dropped wherever they stand. Never returns an empty
// list.
std::vector<std::string> SplitTabFields(const std::string& line);

// Reads a size field like strtoull: leading white space, optional sign, decimal digits; saturates
// at 2^64-1 and negates modulo 2^64 for a minus sign.
std::uint64_t ParseManifestSize(const std::string& field);

// Appends every file line to `text.entries` and takes the last BASE line (`text` keeps its base
// when there is none). True exactly when `text.entries` is not empty afterwards.
bool ReadManifestText(const std::string& body, ManifestText& text);

// The text that ReadManifestText reads back as `version`, `baseUrl` and `entries`, in this order.
// Fields must hold no TAB, CR or LF, a path must be neither empty nor start with '#', and a
// compressed copy must obey CheckCompressedCopy.
std::string FormatManifestText(const std::string& version, const std::string& baseUrl,
                               const std::vector<ManifestEntry>& entries);
