// Owners of WinHTTP handles: sessions, connections and requests alike.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include "portable/unique_handle.h"

using UniqueInternet = UniqueHandle<ReleasedBy<HINTERNET, ::WinHttpCloseHandle>>;
