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
    // A block index lies beside the file on the server, so an older copy can be patched by
    // fetching only the blocks it lacks.
    bool blocks = false;
};

struct PatchManifest {
    std::wstring baseUrl;
    std::vector<ManifestEntry> entries;
};

// Splits one line at every TAB; CR bytes are dropped wherever they stand. Never returns an empty
// list.
std::vector<std::string> SplitTabFields(const std::string& line);

// Reads a size field like strtoull: leading white space, optional sign, decimal digits; saturates
// at 2^64-1 and negates modulo 2^64 for a minus sign.
std::uint64_t ParseManifestSize(const std::string& field);

// Appends every file line to `entries` and sets `baseUrl` from the last BASE line (left alone when
// there is none). True exactly when `entries` is not empty afterwards.
bool ParsePatchManifest(const std::string& body, std::wstring& baseUrl,
                        std::vector<ManifestEntry>& entries);
