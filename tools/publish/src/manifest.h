// The patch manifest text: a VERSION line, a BASE line, then one line per
// file: path ('\' between names), size, lower-case SHA-256 and, for files
// fetched only when absent, IFMISSING, or for files with a block index, BLOCKS. TAB between fields,
// LF after each line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace talvora {

struct ManifestFile {
    std::string relPath;  // '/' between names, as walked
    std::uint64_t size = 0;
    std::string sha256;
    bool ifMissing = false;
    bool blocks = false;  // a block index lies beside it
};

// The path as the launcher reads it: '\' between names.
std::string ToBackslashes(std::string relPath);

// The manifest text. Files are written sorted byte-wise by their '\' form, so
// the same folder always gives the same bytes.
std::string FormatManifest(const std::string& version, const std::string& baseUrl,
                           std::vector<ManifestFile> files);

}  // namespace talvora
