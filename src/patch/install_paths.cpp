#include "patch/install_paths.h"

#include <windows.h>

namespace {

bool IsSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

// "..", but also "..." or ".. ": Windows drops trailing dots and spaces from a name, so nothing
// made only of dots (and trailing spaces) can be told apart from a step upwards with certainty.
bool IsDotsSegment(const std::wstring& path, size_t begin, size_t end) {
    while (end > begin && path[end - 1] == L' ')
        --end;
    if (end - begin < 2)
        return false;
    for (size_t i = begin; i < end; ++i) {
        if (path[i] != L'.')
            return false;
    }
    return true;
}

// CON, PRN, AUX, NUL, COM0-9, LPT0-9, CONIN$ and CONOUT$ open a device instead of a file, in any
// folder and with any extension ("LPT1.pak", "nul.txt"): nothing may be written to them.
bool IsDeviceSegment(const std::wstring& path, size_t begin, size_t end) {
    size_t stem = begin;
    while (stem < end && path[stem] != L'.')
        ++stem;
    while (stem > begin && (path[stem - 1] == L' ' || path[stem - 1] == L'.'))
        --stem;
    std::wstring name;
    for (size_t i = begin; i < stem; ++i) {
        const wchar_t c = path[i];
        name.push_back(c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c);
    }
    if (name == L"CON" || name == L"PRN" || name == L"AUX" || name == L"NUL" || name == L"CONIN$" ||
        name == L"CONOUT$") {
        return true;
    }
    return name.size() == 4 &&
           (name.compare(0, 3, L"COM") == 0 || name.compare(0, 3, L"LPT") == 0) &&
           name[3] >= L'0' && name[3] <= L'9';
}

}  // namespace

bool IsSafeRelativePath(const std::wstring& widePath) {
    if (widePath.empty() || IsSeparator(widePath.front()))
        return false;
    size_t segmentStart = 0;
    for (size_t i = 0; i <= widePath.size(); ++i) {
        if (i == widePath.size() || IsSeparator(widePath[i])) {
            if (IsDotsSegment(widePath, segmentStart, i))
                return false;
            if (IsDeviceSegment(widePath, segmentStart, i))
                return false;
            segmentStart = i + 1;
            continue;
        }
        const wchar_t c = widePath[i];
        if (c == L':' || c < 0x20)
            return false;
    }
    return true;
}

std::wstring LocalPathFor(const std::wstring& installDir, const std::wstring& widePath) {
    return installDir + L"\\" + widePath;
}

std::wstring PartPathFor(const std::wstring& localPath) {
    return localPath + L".part";
}

std::wstring DownloadUrlFor(const std::wstring& baseUrl, const std::wstring& widePath) {
    return baseUrl + widePath;
}

void CreateParentDirectories(const std::wstring& filePath) {
    const size_t last = filePath.find_last_of(L"\\/");
    if (last == std::wstring::npos)
        return;
    const std::wstring directory = filePath.substr(0, last);
    // Every prefix up to a separator, the drive root and the folders above the installation
    // included: those fail harmlessly because they exist.
    std::wstring prefix;
    for (wchar_t c : directory) {
        prefix.push_back(c);
        if (IsSeparator(c))
            ::CreateDirectoryW(prefix.c_str(), nullptr);
    }
    ::CreateDirectoryW(directory.c_str(), nullptr);
}
