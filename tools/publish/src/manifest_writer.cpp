#include "manifest_writer.h"

#include <algorithm>

namespace talvora {

std::string FormatManifest(const std::string& version, const std::string& baseUrl,
                           std::vector<ManifestEntry> files, char separator) {
    for (ManifestEntry& file : files)
        std::replace(file.relPath.begin(), file.relPath.end(), '/', separator);
    // std::string compares as unsigned bytes, which is the order promised.
    std::sort(files.begin(), files.end(),
              [](const ManifestEntry& a, const ManifestEntry& b) { return a.relPath < b.relPath; });
    return FormatManifestText(version, baseUrl, files);
}

}  // namespace talvora
