#include "ui/paint.h"

#include "ui/gdi_handles.h"
#include "ui/badge.h"
#include "ui/frame_cache.h"
#include "ui/frame_parts.h"
#include "ui/page_layout.h"

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

FrameMode gFrameMode = FrameMode::Cached;

// The whole frame from scratch into a new bitmap, in layout order.
UniqueBitmap ComposePlainFrame(const FrameInput& input, int width, int height) {
    UniqueBitmap bitmap;
    if (width <= 0 || height <= 0 ||
        GdipCreateBitmapFromScan0(width, height, 0, PixelFormat32bppARGB, nullptr, bitmap.put()) !=
            Ok) {
        bitmap.reset();
        return bitmap;
    }
    UniqueGraphics graphics;
    if (GdipGetImageGraphicsContext(bitmap.get(), graphics.put()) != Ok) {
        bitmap.reset();
        return bitmap;
    }
    GpGraphics* g = graphics.get();
    GdipSetSmoothingMode(g, SmoothingModeAntiAlias);
    GdipSetTextRenderingHint(g, TextRenderingHintAntiAlias);

    if (input.splashActive) {
        DrawSplash(g, width, height, input.badge);
        return bitmap;
    }
    const PageLayout layout = DescribePage(input, width, height);
    DrawBackground(g, layout.background, input.background);
    DrawEmberBand(g, layout.emberBand, width, height, input.frameTick);
    StoreHitRects(layout, input.hitRects);
    for (const PagePart& part : layout.parts)
        DrawPart(g, part);
    return bitmap;
}

void PresentPlainFrame(HDC dc, GpBitmap* frame, int width, int height) {
    UniqueGraphics target;
    if (GdipCreateFromHDC(dc, target.put()) != Ok)
        return;
    GdipDrawImageRectI(target.get(), frame, 0, 0, width, height);
}

bool CopyBitmapPixels(GpBitmap* bitmap, int width, int height, std::vector<std::uint32_t>& pixels) {
    pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
    Rect all(0, 0, width, height);
    BitmapData data{};
    data.Width = static_cast<UINT>(width);
    data.Height = static_cast<UINT>(height);
    data.Stride = width * 4;
    data.PixelFormat = PixelFormat32bppARGB;
    data.Scan0 = pixels.data();
    // The caller's buffer receives the pixels directly.
    if (GdipBitmapLockBits(bitmap, &all, ImageLockModeRead | ImageLockModeUserInputBuf,
                           PixelFormat32bppARGB, &data) != Ok) {
        return false;
    }
    GdipBitmapUnlockBits(bitmap, &data);
    return true;
}

}  // namespace

void SetFrameMode(FrameMode mode) {
    gFrameMode = mode;
}

void PaintFrame(HDC dc, int width, int height, const FrameInput& input) {
    if (gFrameMode == FrameMode::Cached) {
        PaintCachedFrame(dc, width, height, input);
        return;
    }
    const UniqueBitmap frame = ComposePlainFrame(input, width, height);
    if (frame)
        PresentPlainFrame(dc, frame.get(), width, height);
}

bool ComposeFrame(int width, int height, FrameMode mode, const FrameInput& input,
                  std::vector<std::uint32_t>& pixels) {
    if (mode == FrameMode::Cached)
        return ComposeCachedFrame(width, height, input, pixels);
    const UniqueBitmap frame = ComposePlainFrame(input, width, height);
    return frame && CopyBitmapPixels(frame.get(), width, height, pixels);
}
