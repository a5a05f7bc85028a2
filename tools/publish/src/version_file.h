// What the publisher checks before it writes the launcher version file
// (selfupdate/launcher_version.h).
#pragma once

#include <string>

namespace talvora {

// Whether the launcher would accept this version number and URL; `error` says
// why not. The number must fit the launcher's signed 32-bit field and be at
// least 1; the URL must be a non-empty http or https URL on one line.
bool IsUsableLauncherEntry(long long version, const std::string& url, std::string& error);

}  // namespace talvora
