// The splash frame shown after the game has been started.
#pragma once

#include "ui/gdiplus_include.h"

// The whole splash frame: the badge picture enlarged to 108 % and centred, or the vector badge.
void DrawSplash(Gdiplus::GpGraphics* graphics, int width, int height, Gdiplus::GpImage* badge);

// A green shield with a check mark and two captions, over a dark veil.
void DrawFallbackBadge(Gdiplus::GpGraphics* graphics, int width, int height);

// The shield's geometry for a client area, shared by the drawing and its checks.
struct ShieldGeometry {
    float cx;
    float cy;
    float scale;
    float width;
    float height;
};
ShieldGeometry FallbackShieldGeometry(int width, int height);
