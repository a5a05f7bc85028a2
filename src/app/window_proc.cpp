#include "app/window_proc.h"

#include "platform/exe_location.h"
#include "app/game_launch.h"
#include "patch/patch_status.h"
#include "app/shell_actions.h"
#include "app/shutdown.h"
#include "app/window_state.h"
#include "net/update_keys.h"
#include "patch/patch_worker.h"
#include "ui/paint.h"

const wchar_t* const kMainWindowClass = L"TalvoraPatcher";

namespace {

constexpr UINT_PTR kFrameTimer = 1;
constexpr UINT kFrameMilliseconds = 33;

bool Hit(Button button, int x, int y) {
    return HitRectContains(ButtonHitRect(button), static_cast<float>(x), static_cast<float>(y));
}

LRESULT OnCreate(HWND window, LPARAM lParam) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    const auto* params = static_cast<const MainWindowParams*>(create->lpCreateParams);

    auto* status = new PatchStatus();
    status->installDir = params ? params->installDir : ExeDirectory();
    status->manifestUrl = params ? params->manifestUrl : ManifestUrl();
    status->updateKeys = BuiltInUpdateKeys();
    gPatchStatus = status;
    StartPatchRun(*status, false);
    ::SetTimer(window, kFrameTimer, kFrameMilliseconds, nullptr);
    return 0;
}

LRESULT OnDestroy(HWND window) {
    ::KillTimer(window, kFrameTimer);
    // The window is already gone from the screen: nobody can see the launcher any more.
    StartExitCountdown();
    if (PatchStatus* status = gPatchStatus) {
        gPatchStatus = nullptr;
        // The worker stops at its next check or inside the download. One that does not in time
        // keeps its record, and the process ends without it.
        if (StopPatchRun(*status, kRunStopMs)) {
            delete status;
        } else {
            gRunAbandoned = true;
        }
    }
    ::PostQuitMessage(0);
    return 0;
}

}  // namespace

void PaintWindow(HDC dc, int width, int height) {
    PaintFrame(dc, width, height, CurrentFrameInput());
}

namespace {

LRESULT OnPaint(HWND window) {
    PAINTSTRUCT paint;
    HDC dc = ::BeginPaint(window, &paint);
    RECT client;
    ::GetClientRect(window, &client);
    PaintWindow(dc, client.right, client.bottom);
    ::EndPaint(window, &paint);
    return 0;
}

LRESULT OnTimer(HWND window) {
    gFrameTick = gFrameTick + 1;
    // Once the splash posted its close, one more frame would only flash.
    if (gSplashActive && SplashFade(window))
        return 0;
    ::InvalidateRect(window, nullptr, FALSE);
    return 0;
}

LRESULT OnMouseMove(LPARAM lParam) {
    // Unsigned 16-bit, as the message carries them; the next tick repaints.
    gMouseX = LOWORD(lParam);
    gMouseY = HIWORD(lParam);
    return 0;
}

LRESULT OnLeftButtonDown(HWND window, LPARAM lParam) {
    HandleClick(window, LOWORD(lParam), HIWORD(lParam));
    return 0;
}

void HandleMainViewClick(HWND window, int x, int y) {
    if (Hit(Button::PlayButton, x, y)) {
        if (gPatchStatus != nullptr && IsReadyPhase(gPatchStatus->phase.load()))
            LaunchGame(window);
        return;
    }
    if (Hit(Button::SettingsButton, x, y)) {
        gSettingsOpen = true;
        return;
    }
    if (Hit(Button::WebsiteButton, x, y))
        OpenLink(WebsiteUrl);
    if (Hit(Button::DiscordButton, x, y))
        OpenLink(DiscordInviteUrl);
    if (Hit(Button::FacebookButton, x, y))
        OpenLink(FacebookPageUrl);
}

void HandleSettingsViewClick(HWND window, int x, int y) {
    if (Hit(Button::GameConfigButton, x, y)) {
        OpenGameConfig(window);
        return;
    }
    if (Hit(Button::FullCheckButton, x, y)) {
        if (gPatchStatus != nullptr && !gPatchStatus->busy.load()) {
            StartPatchRun(*gPatchStatus, true);
            gSettingsOpen = false;  // show the new run's progress
        }
        return;
    }
    if (Hit(Button::BackButton, x, y))
        gSettingsOpen = false;
}

}  // namespace

void HandleClick(HWND window, int x, int y) {
    // The badge covers the page, whose buttons keep their rectangles under it.
    if (gSplashActive)
        return;
    if (gSettingsOpen) {
        HandleSettingsViewClick(window, x, y);
    } else {
        HandleMainViewClick(window, x, y);
    }
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            return OnCreate(window, lParam);
        case WM_DESTROY:
            return OnDestroy(window);
        case WM_PAINT:
            return OnPaint(window);
        case WM_ERASEBKGND:
            return 1;  // the painter covers every pixel
        case WM_TIMER:
            return OnTimer(window);
        case WM_MOUSEMOVE:
            return OnMouseMove(lParam);
        case WM_LBUTTONDOWN:
            return OnLeftButtonDown(window, lParam);
        default:
            return ::DefWindowProcW(window, message, wParam, lParam);
    }
}
