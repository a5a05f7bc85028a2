#include "portable/selfupdate/launcher_version.h"

#include <limits>

#include "portable/net/decimal.h"

std::int32_t ParseVersionNumber(const std::string& text) {
    const DecimalRead read = ReadDecimal(text);
    constexpr std::uint64_t kMaxPositive = std::numeric_limits<std::int32_t>::max();
    if (read.negative) {
        if (read.magnitude > kMaxPositive + 1)
            return std::numeric_limits<std::int32_t>::min();
        return static_cast<std::int32_t>(-static_cast<std::int64_t>(read.magnitude));
    }
    if (read.magnitude > kMaxPositive)
        return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(read.magnitude);
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
        } else if (key == "SIZE") {
            const DecimalRead read = ReadDecimal(value);
            info.size = read.negative ? 0 : read.magnitude;
        }
    }
    return info.version >= 1 && !info.sha256.empty() && !info.url.empty();
}

std::string FormatLauncherVersion(const LauncherVersionInfo& info) {
    std::string text = "VERSION\t" + std::to_string(info.version) + "\nSHA256\t" + info.sha256 +
                       "\nURL\t" + info.url + "\n";
    if (info.size != 0)
        text += "SIZE\t" + std::to_string(info.size) + "\n";
    return text;
}
