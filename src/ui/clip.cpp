#include "ui/clip.h"

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

GpGraphics* gOuterGraphics = nullptr;
Rect gOuterRect;

}  // namespace

void SetElementClip(GpGraphics* graphics, GpRegion* region) {
    GdipSetClipRegion(graphics, region, CombineModeReplace);
    if (graphics == gOuterGraphics) {
        GdipSetClipRectI(graphics, gOuterRect.X, gOuterRect.Y, gOuterRect.Width, gOuterRect.Height,
                         CombineModeIntersect);
    }
}

void ResetElementClip(GpGraphics* graphics) {
    if (graphics == gOuterGraphics) {
        GdipSetClipRectI(graphics, gOuterRect.X, gOuterRect.Y, gOuterRect.Width, gOuterRect.Height,
                         CombineModeReplace);
    } else {
        GdipResetClip(graphics);
    }
}

OuterClipScope::OuterClipScope(GpGraphics* graphics, const Rect& rect) {
    gOuterGraphics = graphics;
    gOuterRect = rect;
    GdipSetClipRectI(graphics, rect.X, rect.Y, rect.Width, rect.Height, CombineModeReplace);
}

OuterClipScope::~OuterClipScope() {
    GdipResetClip(gOuterGraphics);
    gOuterGraphics = nullptr;
}
