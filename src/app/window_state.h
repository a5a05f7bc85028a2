// Plain values of the window thread, shared by the window procedure, the actions and the painter.
// Only the window thread touches them, so none is locked.
#pragma once

#include <cstdint>

#include "ui/frame_input.h"
#include "ui/gdiplus_include.h"
#include "ui/hit_rect.h"

// Client pixels; -1 until the pointer first moves over the window, so nothing starts hovered.
extern std::int32_t gMouseX;
extern std::int32_t gMouseY;
extern std::int32_t gFrameTick;
extern bool gSettingsOpen;  // false: MainView, true: SettingsView
extern bool gSplashActive;  // set once the game has been started; never cleared
extern std::int32_t gSplashTick;
// Loaded at start-up; either may be null.
extern Gdiplus::GpImage* gBackgroundPicture;
extern Gdiplus::GpImage* gBadgePicture;

extern HitRect gHitRects[kButtonCount];
inline HitRect& ButtonHitRect(Button button) {
    return gHitRects[static_cast<int>(button)];
}

// Every value back to its start value (the pictures are forgotten, not deleted).
void ResetWindowState();

// The window's values and the status record published in gPatchStatus, as the painter takes them;
// the painter stores the buttons' rectangles in gHitRects.
FrameInput CurrentFrameInput();
