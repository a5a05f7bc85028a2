// What the painter is given for one frame: the window thread's values and the status record as
// the window reads it. The painter reads nothing else, and stores the rectangle of every button it
// draws where it is told to.
#pragma once

#include <cstdint>
#include <string>

#include "ui/gdiplus_include.h"
#include "ui/hit_rect.h"

// The status record as MainView shows it.
struct RunView {
    std::wstring statusText;
    bool ready = false;  // PLAY may be pressed
    double overall = 0.0;
    double file = 0.0;
    bool canFullCheck = false;  // no run is going
};

struct FrameInput {
    std::int32_t mouseX = -1;  // client pixels; -1 before the pointer first moved over the window
    std::int32_t mouseY = -1;
    std::int32_t frameTick = 0;
    bool settingsOpen = false;
    bool splashActive = false;
    Gdiplus::GpImage* background = nullptr;  // either may be null
    Gdiplus::GpImage* badge = nullptr;
    RunView run;
    HitRect* hitRects = nullptr;  // kButtonCount of them, by Button; null: stored nowhere
};

// True when the picture exists and its image object reports no error.
bool IsPictureUsable(Gdiplus::GpImage* picture);
