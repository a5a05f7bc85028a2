// Plain values of the window thread, shared by the window procedure, the actions and the painter.
// Only the window thread touches them, so none is locked.
#pragma once

#include <cstdint>

#include "ui/gdiplus_include.h"

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

// The clickable rectangle of one button, in client pixels. All zero until its page is painted.
struct HitRect {
    float x = 0.0f;
    float y = 0.0f;
    float width = 0.0f;
    float height = 0.0f;
};

enum class Button : int {
    PlayButton,
    SettingsButton,
    WebsiteButton,
    DiscordButton,
    FacebookButton,
    GameConfigButton,
    FullCheckButton,
    BackButton,
};
constexpr int kButtonCount = 8;

extern HitRect gHitRects[kButtonCount];
inline HitRect& ButtonHitRect(Button button) {
    return gHitRects[static_cast<int>(button)];
}

// Half-open: the left and top edges belong to the rectangle, the right and bottom edges do not.
bool HitRectContains(const HitRect& rect, float x, float y);

// True when the picture exists and its image object reports no error.
bool IsPictureUsable(Gdiplus::GpImage* picture);

// Every value back to its start value (the pictures are forgotten, not deleted).
void ResetWindowState();
