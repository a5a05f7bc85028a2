// The launcher version file: KEY TAB VALUE lines (VERSION, SHA256, URL and optionally SIZE), LF
// after each line. Read by the launcher's self-update and written by the publisher; keys a reader
// does not know are ignored, which is how older launchers pass over SIZE.
#pragma once

#include <cstdint>
#include <string>

// The patch server's description of the newest published launcher.
struct LauncherVersionInfo {
    std::int32_t version = 0;
    std::string sha256;
    std::string url;         // UTF-8
    std::uint64_t size = 0;  // bytes of the executable; 0 when the file does not say
};

// Reads the version file (KEY TAB VALUE lines, last one wins). All fields are reset first; true
// when the file names a version of at least 1, a digest and a URL.
bool ParseLauncherVersion(const std::string& body, LauncherVersionInfo& info);

// strtol-like: leading white space, optional sign, digits; saturates at the 32-bit limits.
std::int32_t ParseVersionNumber(const std::string& text);

// The text that ParseLauncherVersion reads back as `info` (no SIZE line for a size of 0). The
// digest and the URL must hold no CR or LF.
std::string FormatLauncherVersion(const LauncherVersionInfo& info);
