#include "patch/manifest.h"

#include "platform/text_conversion.h"

bool ParsePatchManifest(const std::string& body, std::wstring& baseUrl,
                        std::vector<ManifestEntry>& entries) {
    ManifestText text;
    text.entries.swap(entries);
    const bool found = ReadManifestText(body, text);
    entries.swap(text.entries);
    if (text.hasBase)
        baseUrl = Utf8ToWide(text.baseUrl);
    return found;
}
