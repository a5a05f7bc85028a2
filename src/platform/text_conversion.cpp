#include "platform/text_conversion.h"

#include <windows.h>

#include <climits>

std::wstring Utf8ToWide(const std::string& utf8) {
    if (utf8.empty())
        return std::wstring();
    // The platform counts in int; nothing the launcher converts comes near that.
    if (utf8.size() > static_cast<size_t>(INT_MAX))
        return std::wstring();
    const int inLength = static_cast<int>(utf8.size());
    const int needed = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), inLength, nullptr, 0);
    if (needed <= 0)
        return std::wstring();
    std::wstring wide(static_cast<size_t>(needed), L'\0');
    const int written = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), inLength, &wide[0], needed);
    if (written <= 0)
        return std::wstring();
    wide.resize(static_cast<size_t>(written));
    return wide;
}

std::string WideToUtf8(const std::wstring& wide) {
    if (wide.empty() || wide.size() > static_cast<size_t>(INT_MAX))
        return std::string();
    const int inLength = static_cast<int>(wide.size());
    const int needed =
        ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), inLength, nullptr, 0, nullptr, nullptr);
    if (needed <= 0)
        return std::string();
    std::string utf8(static_cast<size_t>(needed), '\0');
    const int written = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), inLength, &utf8[0], needed,
                                              nullptr, nullptr);
    if (written <= 0)
        return std::string();
    utf8.resize(static_cast<size_t>(written));
    return utf8;
}
