// Owners of WinHTTP handles.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include "portable/unique_handle.h"

// WinHTTP sessions, connections and requests alike.
struct InternetHandleTraits {
    using Type = HINTERNET;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::WinHttpCloseHandle(h); }
};
using UniqueInternet = UniqueHandle<InternetHandleTraits>;
