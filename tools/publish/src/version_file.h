// The launcher version file: VERSION, SHA256 and URL lines, TAB between key
// and value, LF after each line.
#pragma once

#include <string>

namespace talvora {

// Why the launcher would not accept this version number and URL; empty when
// it would. The number must fit the launcher's signed 32-bit field and be at
// least 1; the URL must be a non-empty http or https URL on one line.
std::string LauncherEntryRefusal(long long version, const std::string& url);

std::string FormatLauncherVersion(long long version, const std::string& sha256,
                                  const std::string& url);

}  // namespace talvora
