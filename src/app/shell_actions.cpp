#include "app/shell_actions.h"

#include <shellapi.h>

#include "platform/exe_location.h"
#include "build_config.h"

const wchar_t* const WebsiteUrl = TALVORA_WEBSITE_URL;
const wchar_t* const DiscordInviteUrl = TALVORA_DISCORD_URL;
const wchar_t* const FacebookPageUrl = TALVORA_FACEBOOK_URL;

void OpenGameConfig(HWND window) {
    const std::wstring path = ExeDirectory() + L"\\" + L"config.exe";
    const auto result = reinterpret_cast<INT_PTR>(
        ::ShellExecuteW(window, L"open", path.c_str(), nullptr, ExeDirectory().c_str(), SW_SHOW));
    if (result <= 32) {
        const std::wstring text = L"Nem található a játék konfiguráció: " + path;
        ::MessageBoxW(window, text.c_str(), L"Talvora", MB_ICONWARNING);
    }
}

void OpenLink(const std::wstring& url) {
    ::ShellExecuteW(nullptr, L"open", url.c_str(), nullptr, nullptr, SW_SHOW);
}
