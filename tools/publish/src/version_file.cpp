#include "version_file.h"

#include <cstdint>

#include "text.h"

namespace talvora {

bool IsUsableLauncherEntry(long long version, const std::string& url, std::string& error) {
    if (version < 1)
        return Refuse(error, "version must be at least 1");
    if (version > INT32_MAX)
        return Refuse(error, "version must not exceed 2147483647");
    return IsUsableUrl(url, error);
}

}  // namespace talvora
