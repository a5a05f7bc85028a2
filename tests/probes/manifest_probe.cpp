// Parses a manifest file with the launcher's own parser and prints what it understood, one entry
// a line (relPath, size, sha256, ifMissing, blocks, compressed copy's size, TAB-separated, relPath as hex so any byte
// survives).
#include <windows.h>

#include <cstdio>
#include <string>

#include "patch/manifest.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 2)
        return 2;
    HANDLE file = ::CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    std::string body;
    char buffer[65536];
    DWORD got = 0;
    while (::ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
        body.append(buffer, got);
    ::CloseHandle(file);

    PatchManifest manifest;
    const bool ok = ParsePatchManifest(body, manifest.baseUrl, manifest.entries);
    std::printf("result\t%d\n", ok ? 1 : 0);
    std::printf("base\t");
    for (wchar_t c : manifest.baseUrl)
        std::printf("%04x", static_cast<unsigned>(c));
    std::printf("\n");
    for (const ManifestEntry& e : manifest.entries) {
        std::printf("entry\t");
        for (unsigned char c : e.relPath)
            std::printf("%02x", c);
        std::printf("\t%llu\t%s\t%d\t%d\t%llu\n", static_cast<unsigned long long>(e.size),
                    e.sha256.c_str(), e.ifMissing ? 1 : 0, e.blocks ? 1 : 0,
                    static_cast<unsigned long long>(e.compressedSize));
    }
    return 0;
}
