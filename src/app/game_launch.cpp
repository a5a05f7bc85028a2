#include "app/game_launch.h"

#include <algorithm>
#include <string>

#include "platform/exe_location.h"
#include "platform/kernel_handles.h"
#include "ui/gdi_handles.h"
#include "app/window_state.h"
#include "ui/gdiplus_include.h"

SplashGeometry ComputeSplashGeometry(int screenWidth, int screenHeight, float ratio) {
    SplashGeometry g;
    const float half = static_cast<float>(screenHeight) * 0.5f;
    g.height = static_cast<int>(half);
    g.width = static_cast<int>(ratio * half);
    g.x = (screenWidth - g.width) / 2;
    g.y = (screenHeight - g.height) / 2;
    g.corner = std::min(g.width, g.height) * 18 / 100;
    return g;
}

int SplashAlpha(int tick) {
    int alpha = 255;
    if (tick < 10) {
        alpha = tick * 255 / 10;
    } else if (tick > 50) {
        alpha = (18360 - tick * 255) / 22;
    }
    return std::clamp(alpha, 0, 255);
}

namespace {

float BadgeRatio() {
    if (gBadgePicture == nullptr)
        return 1.0f;
    UINT width = 0, height = 0;
    Gdiplus::DllExports::GdipGetImageWidth(gBadgePicture, &width);
    Gdiplus::DllExports::GdipGetImageHeight(gBadgePicture, &height);
    if (width == 0 || height == 0)
        return 1.0f;  // a broken picture must not make a zero-sized window
    return static_cast<float>(width) / static_cast<float>(height);
}

}  // namespace

void LaunchGame(HWND window) {
    if (gSplashActive)
        return;

    const std::wstring path = ExeDirectory() + L"\\" + L"velkaro.exe";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessW(path.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr,
                          ExeDirectory().c_str(), &startup, &process)) {
        const std::wstring text = L"Nem található a játék: " + path;
        ::MessageBoxW(window, text.c_str(), L"Talvora", MB_ICONERROR);
        return;
    }
    // The launcher neither waits for the game nor watches it.
    UniqueKernelHandle thread(process.hThread);
    UniqueKernelHandle child(process.hProcess);
    thread.reset();
    child.reset();

    gSplashActive = true;
    gSplashTick = 0;

    const SplashGeometry g = ComputeSplashGeometry(::GetSystemMetrics(SM_CXSCREEN),
                                                   ::GetSystemMetrics(SM_CYSCREEN), BadgeRatio());
    ::SetWindowLongW(window, GWL_STYLE, static_cast<LONG>(WS_POPUP | WS_VISIBLE));
    ::SetWindowLongW(window, GWL_EXSTYLE,
                     ::GetWindowLongW(window, GWL_EXSTYLE) | WS_EX_LAYERED | WS_EX_TOOLWINDOW);
    // Fully transparent before it moves, so the old page never flashes at the new size.
    ::SetLayeredWindowAttributes(window, 0, 0, LWA_ALPHA);
    ::SetWindowPos(window, HWND_TOPMOST, g.x, g.y, g.width, g.height,
                   SWP_SHOWWINDOW | SWP_FRAMECHANGED);
    UniqueGdiRegion region(
        ::CreateRoundRectRgn(0, 0, g.width + 1, g.height + 1, g.corner, g.corner));
    // The system owns the region once it accepted it.
    if (region && ::SetWindowRgn(window, region.get(), TRUE))
        region.release();
}

bool SplashFade(HWND window) {
    gSplashTick = gSplashTick + 1;
    ::SetLayeredWindowAttributes(window, 0, static_cast<BYTE>(SplashAlpha(gSplashTick)), LWA_ALPHA);
    if (gSplashTick >= kSplashCloseTick) {
        ::PostMessageW(window, WM_CLOSE, 0, 0);
        return true;
    }
    return false;
}
