#pragma once

#include <windows.h>

#include <string>

#include "platform/file_hash.h"
#include "platform/kernel_handles.h"

// SHA-256 of a whole file by its name, for tests, probes and benches: the product hashes only
// handles it holds. Writers are not let in, so a file still being written gives no digest.
inline std::string Sha256FileHex(const std::wstring& path) {
    UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file ? Sha256RestOfFileHex(file.get()) : std::string();
}
