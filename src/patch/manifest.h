// The launcher's view of the patch manifest: the format's bytes with the download base in UTF-16.
#pragma once

#include <string>
#include <vector>

#include "portable/patch/manifest_format.h"

struct PatchManifest {
    std::wstring baseUrl;
    std::vector<ManifestEntry> entries;
};

// Appends every file line to `entries` and sets `baseUrl` from the last BASE line (left alone when
// there is none). True exactly when `entries` is not empty afterwards.
bool ParsePatchManifest(const std::string& body, std::wstring& baseUrl,
                        std::vector<ManifestEntry>& entries);
