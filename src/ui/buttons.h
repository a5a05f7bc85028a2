// Push buttons of the painted interface, and the rounded-rectangle figure everything is made of.
#pragma once

#include <cstdint>
#include <string>

#include "ui/hit_rect.h"
#include "ui/gdiplus_include.h"

// Appends one closed rounded rectangle to the path; d is the side of each corner's square.
void AddRoundedRect(Gdiplus::GpPath* path, float x, float y, float w, float h, float d);

struct ButtonLook {
    Gdiplus::ARGB bodyTop;
    Gdiplus::ARGB bodyBottom;
    Gdiplus::ARGB border;
    Gdiplus::ARGB label;
    Gdiplus::ARGB glow;  // alpha 0: no glow
    Gdiplus::ARGB sheen;
    float labelSize;
};

ButtonLook PickButtonLook(bool primary, bool enabled, bool hovered);

// Enabled and under the pointer (half-open rectangle).
bool IsButtonHovered(const HitRect& rect, bool enabled, std::int32_t mouseX, std::int32_t mouseY);

// How far the glow of a highlighted button reaches past its rectangle on every side.
constexpr float kButtonGlowReach = 6.0f;

// Draws the button filling exactly the rectangle, which the caller has stored as its HitRect.
void DrawButton(Gdiplus::GpGraphics* graphics, const HitRect& rect, const std::wstring& label,
                bool enabled, bool primary, bool hovered);
