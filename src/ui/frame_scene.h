// A page layout as the frame cache sees it: each part with the pixels it can touch, compared
// with the same part of the previous frame's layout to find what must be drawn again. Progress
// bars count as three parts (caption, track, percentage), so that a moving fill redraws only the
// columns it crosses.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "ui/page_layout.h"
#include "ui/pixel_box.h"

// Which piece of its part an element draws: the whole part, or one step of a progress bar.
enum class PartPiece { Whole, BarCaption, BarTrack, BarPercent };

struct SceneElement {
    Box bounds;
    std::size_t part = 0;  // index into the layout's parts
    PartPiece piece = PartPiece::Whole;
    // Progress tracks: whether a fill shows, and its width.
    bool fill = false;
    float fillWidth = 0.0f;
    // Progress tracks: where the fill ends. When only the fill changed, only the columns between
    // the old and the new end look different.
    bool hasFillEnd = false;
    float fillEnd = 0.0f;
    std::wstring text;  // percentages: the text shown
};

// Every part of the layout drawn after the embers, in drawing order.
std::vector<SceneElement> BuildScene(const PageLayout& layout);

// Draws the element of a scene built from this layout.
void DrawElement(Gdiplus::GpGraphics* graphics, const PageLayout& layout,
                 const SceneElement& element);

// The pixels that may differ between two scenes of the same page and size, each built from its
// layout: one box per element whose look changed.
std::vector<Box> ChangedBoxes(const PageLayout& beforeLayout,
                              const std::vector<SceneElement>& before,
                              const PageLayout& afterLayout,
                              const std::vector<SceneElement>& after);
