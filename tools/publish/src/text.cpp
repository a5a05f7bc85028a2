#include "text.h"

#include <cstdio>
#include <ctime>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#endif

namespace talvora {

std::string Printable(const std::string& text) {
    // Escape byte by byte when the text is not UTF-8 at all; otherwise keep
    // multi-byte characters and escape only control bytes.
    const bool utf8 = IsValidUtf8(text);
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c < 0x20 || c == 0x7F || (c >= 0x80 && !utf8)) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", static_cast<unsigned>(c));
            out += buf;
        } else {
            out += ch;
        }
    }
    return out;
}

#ifdef _WIN32

std::string PathToUtf8(const std::filesystem::path& path, bool& ok) {
    ok = true;
    const std::wstring& wide = path.native();
    if (wide.empty())
        return std::string();
    const int wideLen = static_cast<int>(wide.size());
    const int len = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), wideLen,
                                        nullptr, 0, nullptr, nullptr);
    if (len <= 0) {
        ok = false;
        // Best effort for messages: replace what cannot be converted.
        const int lossy =
            WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLen, nullptr, 0, nullptr, nullptr);
        std::string out(static_cast<std::size_t>(lossy > 0 ? lossy : 0), '\0');
        if (lossy > 0) {
            WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideLen, &out[0], lossy, nullptr, nullptr);
        }
        return out;
    }
    std::string out(static_cast<std::size_t>(len), '\0');
    WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), wideLen, &out[0], len, nullptr,
                        nullptr);
    return out;
}

std::filesystem::path PathFromUtf8(const std::string& text) {
    if (text.empty())
        return std::filesystem::path();
    const int textLen = static_cast<int>(text.size());
    const int len = MultiByteToWideChar(CP_UTF8, 0, text.data(), textLen, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(len > 0 ? len : 0), L'\0');
    if (len > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), textLen, &wide[0], len);
    return std::filesystem::path(wide);
}

#else

std::string PathToUtf8(const std::filesystem::path& path, bool& ok) {
    ok = true;
    return path.native();
}

std::filesystem::path PathFromUtf8(const std::string& text) {
    return std::filesystem::path(text);
}

#endif

std::string PathToUtf8(const std::filesystem::path& path) {
    bool ok = true;
    return PathToUtf8(path, ok);
}

std::string HumanBytes(std::uint64_t bytes) {
    static const char* const units[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    double value = static_cast<double>(bytes);
    std::size_t unit = 0;
    while (value >= 1024.0 && unit + 1 < sizeof units / sizeof units[0]) {
        value /= 1024.0;
        ++unit;
    }
    if (unit == 0)
        return std::to_string(bytes) + " B";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f %s", value, units[unit]);
    return buf;
}

std::string UtcTimestamp() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &now);
#else
    gmtime_r(&now, &utc);
#endif
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y%m%dT%H%M%SZ", &utc);
    return buf;
}

bool HasLineBreakOrTab(const std::string& text) {
    return text.find_first_of("\t\r\n") != std::string::npos;
}

bool Refuse(std::string& error, std::string why) {
    error = std::move(why);
    return false;
}

bool IsUsableUrl(const std::string& url, std::string& error) {
    if (url.empty())
        return Refuse(error, "URL is empty");
    if (HasLineBreakOrTab(url))
        return Refuse(error, "URL contains a TAB, CR or LF");
    for (const char ch : url) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F)
            return Refuse(error, "URL contains a control character");
    }
    if (!IsValidUtf8(url))
        return Refuse(error, "URL is not valid UTF-8");
    std::string scheme = url.substr(0, url.find("://"));
    for (char& c : scheme) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    if (url.find("://") == std::string::npos || (scheme != "http" && scheme != "https")) {
        return Refuse(error, "URL must start with http:// or https://");
    }
    const std::size_t host = url.find("://") + 3;
    if (host >= url.size() || url[host] == '/')
        return Refuse(error, "URL has no host");
    return true;
}

}  // namespace talvora
