#include "manifest.h"

#include <algorithm>

namespace talvora {

std::string ToBackslashes(std::string relPath) {
    std::replace(relPath.begin(), relPath.end(), '/', '\\');
    return relPath;
}

std::string FormatManifest(const std::string& version, const std::string& baseUrl,
                           std::vector<ManifestEntry> files) {
    for (ManifestEntry& file : files)
        file.relPath = ToBackslashes(file.relPath);
    // std::string compares as unsigned bytes, which is the order promised.
    std::sort(files.begin(), files.end(),
              [](const ManifestEntry& a, const ManifestEntry& b) { return a.relPath < b.relPath; });
    return FormatManifestText(version, baseUrl, files);
}

}  // namespace talvora
