// The patch manifest as the publisher writes it: the launcher's format (patch/manifest_format.h),
// files sorted so that the same folder always gives the same bytes.
#pragma once

#include <string>
#include <vector>

#include "portable/patch/manifest_format.h"

namespace talvora {

// The manifest text for files walked with '/' between names, written with `separator` ('/', which
// every web host serves as folders, or '\') between names and sorted byte-wise by that form.
std::string FormatManifest(const std::string& version, const std::string& baseUrl,
                           std::vector<ManifestEntry> files, char separator);

}  // namespace talvora
