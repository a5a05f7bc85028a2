// What the publisher checks before it writes the launcher version file
// (selfupdate/launcher_version.h).
#pragma once

#include <string>

namespace talvora {

// Why the launcher would not accept this version number and URL; empty when
// it would. The number must fit the launcher's signed 32-bit field and be at
// least 1; the URL must be a non-empty http or https URL on one line.
std::string LauncherEntryRefusal(long long version, const std::string& url);

}  // namespace talvora
