// The patch manifest as the server sends it: any bytes.
#include <cerrno>
#include <cstdlib>

#include "fuzz_support.h"
#include "portable/patch/compressed_copy.h"
#include "portable/patch/manifest_format.h"

namespace {

bool SameEntries(const std::vector<ManifestEntry>& a, const std::vector<ManifestEntry>& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].relPath != b[i].relPath || a[i].size != b[i].size || a[i].sha256 != b[i].sha256 ||
            a[i].ifMissing != b[i].ifMissing || a[i].blocks != b[i].blocks ||
            a[i].blocksSha256 != b[i].blocksSha256 || a[i].compressedSize != b[i].compressedSize ||
            a[i].compressedSha256 != b[i].compressedSha256) {
            return false;
        }
    }
    return true;
}

bool Writable(const std::string& field) {
    return field.find_first_of("\t\r\n") == std::string::npos;
}

// The size field must read exactly as the C library's strtoull reads it.
void CheckSizeAgainstStrtoull(const std::string& field) {
    const std::string terminated = field.c_str();  // strtoull stops at a NUL byte as well
    errno = 0;
    const unsigned long long expected = std::strtoull(terminated.c_str(), nullptr, 10);
    Require(ParseManifestSize(field) == expected, "size field reads as strtoull reads it");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string body = Bytes(data, size);
    ManifestText text;
    const bool found = ReadManifestText(body, text);
    Require(found == !text.entries.empty(), "result says whether entries were found");
    Require(text.entries.size() <= size / 3 + 1, "no more entries than the bytes allow");

    for (const ManifestEntry& entry : text.entries) {
        Require(Writable(entry.relPath) && Writable(entry.sha256), "fields hold no TAB, CR or LF");
        const bool named = entry.compressedSize != 0 || !entry.compressedSha256.empty();
        Require(!named || CheckCompressedCopy(entry) == CopyFault::None,
                "a compressed copy is taken only from a line that obeys its rules");
    }

    // A body that ends its last line reads twice over as the same manifest, entries doubled.
    if (!body.empty() && body.back() == '\n' && size < 4096) {
        ManifestText twice;
        ReadManifestText(body + body, twice);
        Require(twice.entries.size() == 2 * text.entries.size(), "concatenation doubles entries");
        Require(twice.baseUrl == text.baseUrl, "concatenation keeps the last BASE");
    }

    // What the writer makes of the parsed entries reads back the same.
    std::vector<ManifestEntry> writable;
    for (const ManifestEntry& entry : text.entries) {
        if (!entry.relPath.empty() && entry.relPath[0] != '#')
            writable.push_back(entry);
    }
    if (!writable.empty() && Writable(text.baseUrl)) {
        ManifestText back;
        Require(ReadManifestText(FormatManifestText("1", text.baseUrl, writable), back),
                "written manifest has entries");
        Require(back.hasBase && back.baseUrl == text.baseUrl, "written BASE reads back");
        Require(SameEntries(back.entries, writable), "written entries read back unchanged");
    }

    // Every field of every line as a size field.
    for (const std::string& field : SplitTabFields(body.substr(0, 256)))
        CheckSizeAgainstStrtoull(field);
    return 0;
}
