#pragma once

#include <string>

// Full path of the running executable; empty when the system cannot tell.
std::wstring ExePath();

// Folder of the running executable without a trailing separator ("." when unknown).
std::wstring ExeDirectory();

// The cutting rule behind ExeDirectory: everything before the last '\' or '/', or "." when the path
// has no separator.
std::wstring DirectoryOfPath(const std::wstring& path);
