#include "version_file.h"

#include <cstdint>

#include "text.h"

namespace talvora {

std::string LauncherEntryRefusal(long long version, const std::string& url) {
    if (version < 1)
        return "version must be at least 1";
    if (version > INT32_MAX)
        return "version must not exceed 2147483647";
    return UrlRefusal(url);
}

std::string FormatLauncherVersion(long long version, const std::string& sha256,
                                  const std::string& url) {
    return "VERSION\t" + std::to_string(version) + "\nSHA256\t" + sha256 + "\nURL\t" + url + "\n";
}

}  // namespace talvora
