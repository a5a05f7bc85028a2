// The patch manifest as the publisher writes it: the launcher's format (patch/manifest_format.h),
// paths with '\' between names, files sorted so that the same folder always gives the same bytes.
#pragma once

#include <string>
#include <vector>

#include "patch/manifest_format.h"

namespace talvora {

// The path as the launcher reads it: '\' between names.
std::string ToBackslashes(std::string relPath);

// The manifest text for files walked with '/' between names. Files are written sorted byte-wise
// by their written form.
std::string FormatManifest(const std::string& version, const std::string& baseUrl,
                           std::vector<ManifestEntry> files);

}  // namespace talvora
