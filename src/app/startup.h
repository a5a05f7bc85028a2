#pragma once

#include <windows.h>

#include <string>

#include "ui/gdi_handles.h"

struct MainWindowParams;

extern HINSTANCE gInstance;

// A picture carried in the executable as RCDATA; `stream` receives the stream that backs it, which
// must outlive the picture. Empty when the resource is missing or does not decode.
UniqueImage LoadPictureFromResource(int id, UniqueStream& stream);

// The first of the named files beside the launcher that decodes; each name starts with '\'.
UniqueImage LoadPictureFromFiles(const wchar_t* const* names, int count);

// The "TalvoraPatcher" class with MainWindowProc; registered once per process.
void RegisterMainWindowClass();

// The 900 x 560 (client area) main window, centred on the screen, not yet shown. Null params:
// the launcher's own folder and patch server.
HWND CreateMainWindow(const MainWindowParams* params);

// The whole life of the launcher process; the result is the process exit code.
int RunLauncher(HINSTANCE instance);
