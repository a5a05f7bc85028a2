#include "manifest.h"

#include <algorithm>

namespace talvora {

std::string ToBackslashes(std::string relPath) {
    std::replace(relPath.begin(), relPath.end(), '/', '\\');
    return relPath;
}

std::string FormatManifest(const std::string& version, const std::string& baseUrl,
                           std::vector<ManifestFile> files) {
    for (ManifestFile& file : files)
        file.relPath = ToBackslashes(file.relPath);
    // std::string compares as unsigned bytes, which is the order promised.
    std::sort(files.begin(), files.end(),
              [](const ManifestFile& a, const ManifestFile& b) { return a.relPath < b.relPath; });
    std::string text = "VERSION\t" + version + "\nBASE\t" + baseUrl + "\n";
    for (const ManifestFile& file : files) {
        text += file.relPath;
        text += '\t';
        text += std::to_string(file.size);
        text += '\t';
        text += file.sha256;
        if (file.ifMissing)
            text += "\tIFMISSING";
        else if (file.blocks)
            text += "\tBLOCKS";
        text += '\n';
    }
    return text;
}

}  // namespace talvora
