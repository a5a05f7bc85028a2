#pragma once

#include <windows.h>

#include "ui/gdiplus_include.h"

struct IStream;
struct MainWindowParams;

extern HINSTANCE gInstance;
extern ULONG_PTR gGdiplusToken;
extern IStream* gBackgroundStream;
extern IStream* gBadgeStream;

// A picture carried in the executable as RCDATA; the stream that backs it is handed out and must
// outlive the picture. Null when the resource is missing or does not decode.
Gdiplus::GpImage* LoadPictureFromResource(int id, IStream** stream);

// The first of the named files beside the launcher that decodes; each name starts with '\'.
Gdiplus::GpImage* LoadPictureFromFiles(const wchar_t* const* names, int count);

// The "TalvoraPatcher" class with MainWindowProc; registered once per process.
void RegisterMainWindowClass();

// The 900 x 560 (client area) main window, centred on the screen, not yet shown. Null params:
// the launcher's own folder and patch server.
HWND CreateMainWindow(const MainWindowParams* params);

// The whole life of the launcher process; the result is the process exit code.
int RunLauncher(HINSTANCE instance);
