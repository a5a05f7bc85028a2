#include "selfupdate/launcher_version.h"

#include <limits>

namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

std::int32_t ParseVersionNumber(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && IsSpace(text[i]))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // One past the int32 range is enough to know that it saturates.
    constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > kLimit)
            value = kLimit;
    }
    if (negative) {
        return static_cast<std::int32_t>(-value < std::numeric_limits<std::int32_t>::min()
                                             ? std::numeric_limits<std::int32_t>::min()
                                             : -value);
    }
    return static_cast<std::int32_t>(value > std::numeric_limits<std::int32_t>::max()
                                         ? std::numeric_limits<std::int32_t>::max()
                                         : value);
}

bool ParseLauncherVersion(const std::string& body, LauncherVersionInfo& info) {
    info = LauncherVersionInfo();
    size_t start = 0;
    while (start < body.size()) {
        size_t end = body.find('\n', start);
        if (end == std::string::npos)
            end = body.size();
        std::string line = body.substr(start, end - start);
        start = end + 1;

        while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
            line.pop_back();
        const size_t tab = line.find('\t');
        if (tab == std::string::npos)
            continue;  // also every empty line
        const std::string key = line.substr(0, tab);
        std::string value = line.substr(tab + 1);
        if (key == "VERSION") {
            info.version = ParseVersionNumber(value);
        } else if (key == "SHA256") {
            info.sha256 = std::move(value);
        } else if (key == "URL") {
            info.url = std::move(value);
        }
    }
    return info.version >= 1 && !info.sha256.empty() && !info.url.empty();
}
