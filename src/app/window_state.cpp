#include "app/window_state.h"

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

bool HitRectContains(const HitRect& rect, float x, float y) {
    return x >= rect.x && x < rect.x + rect.width && y >= rect.y && y < rect.y + rect.height;
}

bool IsPictureUsable(Gdiplus::GpImage* picture) {
    if (picture == nullptr)
        return false;
    Gdiplus::ImageType type = Gdiplus::ImageTypeUnknown;
    return Gdiplus::DllExports::GdipGetImageType(picture, &type) == Gdiplus::Ok &&
           type != Gdiplus::ImageTypeUnknown;
}

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
