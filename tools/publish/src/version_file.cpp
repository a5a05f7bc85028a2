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

}  // namespace talvora
