#include "platform/exe_location.h"

#include <windows.h>

std::wstring ExePath() {
    // Asked anew on every call: nothing is cached.
    wchar_t buffer[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    // A name cut to the buffer may lack its terminator.
    buffer[MAX_PATH - 1] = L'\0';
    return std::wstring(buffer);
}

std::wstring ExeDirectory() {
    return DirectoryOfPath(ExePath());
}

std::wstring DirectoryOfPath(const std::wstring& path) {
    const size_t cut = path.find_last_of(L"\\/");
    if (cut == std::wstring::npos)
        return L".";
    return path.substr(0, cut);
}
