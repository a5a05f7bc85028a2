// Sparks rising through the band between the header and the lower panel.
#pragma once

#include <cstdint>
#include <vector>

#include "ui/gdiplus_include.h"

struct Ember {
    float x;  // left edge of the bounding square
    float y;  // top edge
    float riseSpeed;
    float size;
    float life;
    float initialLife;
};

constexpr int kMaxEmbers = 60;

// Lives as long as the process; changed only by UpdateEmbers.
extern std::vector<Ember> gEmbers;

// One animation step: maybe spawn (every third timer tick, below the limit, only when width > 0),
// move every ember, drop the dead ones.
void UpdateEmbers(int width, int height, std::int32_t frameTick);

// The colour of one ember this frame; draws one rand() for the flicker.
Gdiplus::ARGB NextEmberColour(const Ember& ember);

// Every ember in list order, each an ellipse in its own solid colour. With `visible`, embers
// that cannot touch that rectangle are not sent to GDI+ (their colour is still drawn, so the
// random sequence stays the same).
void DrawEmbers(Gdiplus::GpGraphics* graphics, const Gdiplus::RectF* visible = nullptr);
