#include "patch/install_paths.h"

#include <windows.h>

#include "net/text_conversion.h"

namespace {

bool IsSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

}  // namespace

std::wstring LocalPathFor(const std::wstring& installDir, const std::string& relPath) {
    return installDir + L"\\" + Utf8ToWide(LexicalRelativePath(relPath));
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
