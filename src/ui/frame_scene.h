// A page layout as the frame cache sees it: each part with the pixels it can touch and a key that
// changes exactly when its look changes. Progress bars count as three parts (caption, track,
// percentage), so that a moving fill redraws only the columns it crosses.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "ui/page_layout.h"
#include "ui/pixel_box.h"

struct SceneElement {
    Box bounds;
    std::wstring key;
    std::function<void(Gdiplus::GpGraphics*)> draw;
    // Progress tracks: where the fill ends. When only the fill changed, only the columns between
    // the old and the new end look different.
    bool hasFillEnd = false;
    float fillEnd = 0.0f;
};

// Every part of the layout drawn after the embers, in drawing order.
std::vector<SceneElement> BuildScene(const PageLayout& layout);

// The pixels that may differ between two scenes of the same page and size, one box per element
// whose key changed.
std::vector<Box> ChangedBoxes(const std::vector<SceneElement>& before,
                              const std::vector<SceneElement>& after);
