// What a frame of MainView or SettingsView shows: every element with its position, size, colours,
// text and font, in drawing order. Both painters draw from this one description; the plain one
// draws every part, the cached one only the parts whose look changed.
#pragma once

#include <string>
#include <variant>
#include <vector>

#include "ui/frame_input.h"
#include "ui/gdiplus_include.h"

// Top edge of MainView's lower panel, and bottom edge of the ember band.
inline float LowerPanelTop(int height) {
    return static_cast<float>(height) - 214.0f;
}
// Bottom edge of the header band, where its rule glows; top edge of the ember band.
constexpr float kHeaderBottom = 118.0f;

// The parts. The frame cache compares each field from one frame to the next (Fields in
// frame_scene.cpp), so a new field is listed there as well.

// A rectangle filled with a vertical gradient from its top edge to its bottom edge.
struct GradientRectPart {
    int x, y, width, height;
    Gdiplus::ARGB top, bottom;
};

// A horizontal line across the width that glows in `middle` at its centre and fades to `edge`
// at both ends.
struct RulePart {
    float y, width, thickness;
    Gdiplus::ARGB edge, middle;
};

// A line of text centred both ways in a box.
struct TextPart {
    std::wstring text;
    Gdiplus::RectF box;
    float size;
    bool bold;
    Gdiplus::ARGB colour;
};

// Centred text over its solid shadow (the box shifted right and down by the offset), filled with
// a vertical gradient across the box whose end colours a four-stop blend replaces.
struct TitlePart {
    std::wstring text;
    Gdiplus::RectF box;
    float size;
    bool bold;
    float shadowOffset;
    Gdiplus::ARGB shadow;
    Gdiplus::ARGB gradientTop, gradientBottom;
    Gdiplus::ARGB blend[4];
    float blendPositions[4];
};

// A rounded panel with a vertical gradient between two rows and a 1 px outline.
struct PanelPart {
    Gdiplus::RectF rect;
    float corner;
    float fillTop, fillBottom;
    Gdiplus::ARGB top, bottom, outline;
};

// DrawLabel: one line of text left-aligned from (x, y), or right-aligned ending at x.
struct LabelPart {
    std::wstring text;
    float x, y, size;
    bool bold;
    Gdiplus::ARGB colour;
    Gdiplus::StringAlignment alignment;
};

// DrawProgressBar: caption above, track with its fill, percentage.
struct BarPart {
    float x, y, width, height;
    double fraction;
    std::wstring caption;
};

// DrawButton; its rectangle is the button's HitRect.
struct ButtonPart {
    Button button;
    HitRect rect;
    std::wstring label;
    bool enabled, primary, hovered;
};

using PagePart = std::variant<GradientRectPart, RulePart, TextPart, TitlePart, PanelPart, LabelPart,
                              BarPart, ButtonPart>;

struct PageLayout {
    GradientRectPart background;  // drawn where no usable background picture is
    Gdiplus::RectF emberBand;     // the clip of the embers
    std::vector<PagePart> parts;  // drawn after the embers, in this order
};

// The page the input names, for a W x H client area, with the values of the status record and
// the pointer it was given.
PageLayout DescribePage(const FrameInput& input, int width, int height);

// Every button of the layout's HitRect, as its part places it, into `hitRects` (by Button).
void StoreHitRects(const PageLayout& layout, HitRect* hitRects);
