#pragma once

#include <windows.h>

#include <string>

// Starts the game's own settings tool beside the launcher; a warning box names it when the shell
// cannot start it.
void OpenGameConfig(HWND window);

// Hands a web address to the default browser; a failure shows nothing.
void OpenLink(const std::wstring& url);

extern const wchar_t* const WebsiteUrl;
extern const wchar_t* const DiscordInviteUrl;
extern const wchar_t* const FacebookPageUrl;
