#include "app/window_state.h"

std::int32_t gMouseX = -1;
std::int32_t gMouseY = -1;
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
    if (picture == nullptr) return false;
    Gdiplus::ImageType type = Gdiplus::ImageTypeUnknown;
    return Gdiplus::DllExports::GdipGetImageType(picture, &type) == Gdiplus::Ok &&
           type != Gdiplus::ImageTypeUnknown;
}

void ResetWindowState() {
    gMouseX = -1;
    gMouseY = -1;
    gFrameTick = 0;
    gSettingsOpen = false;
    gSplashActive = false;
    gSplashTick = 0;
    gBackgroundPicture = nullptr;
    gBadgePicture = nullptr;
    for (HitRect& rect : gHitRects) rect = HitRect();
}
