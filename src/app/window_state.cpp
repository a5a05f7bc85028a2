#include "app/window_state.h"

#include "patch/patch_status.h"

namespace {
// No button looks hovered before the pointer first moves over the window.
constexpr std::int32_t kNoPointer = -1;
}  // namespace

std::int32_t gMouseX = kNoPointer;
std::int32_t gMouseY = kNoPointer;
std::int32_t gFrameTick = 0;
bool gSettingsOpen = false;
bool gSplashActive = false;
std::int32_t gSplashTick = 0;
Gdiplus::GpImage* gBackgroundPicture = nullptr;
Gdiplus::GpImage* gBadgePicture = nullptr;
HitRect gHitRects[kButtonCount];

void ResetWindowState() {
    gMouseX = kNoPointer;
    gMouseY = kNoPointer;
    gFrameTick = 0;
    gSettingsOpen = false;
    gSplashActive = false;
    gSplashTick = 0;
    gBackgroundPicture = nullptr;
    gBadgePicture = nullptr;
    for (HitRect& rect : gHitRects)
        rect = HitRect();
}

namespace {

RunView CurrentRunView() {
    RunView view;
    if (gPatchStatus == nullptr)
        return view;
    const PatchStatus& status = *gPatchStatus;
    view.statusText = ReadStatusText(*gPatchStatus);
    view.ready = IsReadyPhase(status.phase.load());
    view.overall = status.overallProgress.load();
    // A run that ended well shows a full file bar, whatever the last file reported.
    view.file = view.ready ? 1.0 : status.fileProgress.load();
    view.canFullCheck = !status.busy.load();
    return view;
}

}  // namespace

FrameInput CurrentFrameInput() {
    FrameInput input;
    input.mouseX = gMouseX;
    input.mouseY = gMouseY;
    input.frameTick = gFrameTick;
    input.settingsOpen = gSettingsOpen;
    input.splashActive = gSplashActive;
    input.background = gBackgroundPicture;
    input.badge = gBadgePicture;
    input.run = CurrentRunView();
    input.hitRects = gHitRects;
    return input;
}
