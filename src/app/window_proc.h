#pragma once

#include <windows.h>

#include <string>

// Optional creation data of the main window. The launcher passes none and works on its own
// folder and patch server; tests point a window at a folder and a server of their own.
struct MainWindowParams {
    std::wstring installDir;
    std::wstring manifestUrl;
};

extern const wchar_t* const kMainWindowClass;

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Paints the whole client area of W x H from the window's values and the status record as they
// stand (CurrentFrameInput); the painter stores every button's HitRect.
void PaintWindow(HDC dc, int width, int height);

// Dispatches a left click at client coordinates to the button under it on the page shown;
// nothing while the badge splash shows.
void HandleClick(HWND window, int x, int y);
