// Clips set by single elements (the bar fill, the ember band). While the frame cache redraws part
// of a layer it clips the whole redraw to that part; an element's own clip then applies inside
// that outer clip, and ending it goes back to the outer clip instead of to no clip at all.
#pragma once

#include "ui/gdiplus_include.h"

// Replaces the element clip with the region (kept inside an active outer clip).
void SetElementClip(Gdiplus::GpGraphics* graphics, Gdiplus::GpRegion* region);
// Back to the outer clip, or to no clip when there is none.
void ResetElementClip(Gdiplus::GpGraphics* graphics);

class OuterClipScope {
public:
    OuterClipScope(Gdiplus::GpGraphics* graphics, const Gdiplus::Rect& rect);
    ~OuterClipScope();
    OuterClipScope(const OuterClipScope&) = delete;
    OuterClipScope& operator=(const OuterClipScope&) = delete;
};
