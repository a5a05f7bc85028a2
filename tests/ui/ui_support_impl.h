#pragma once

#include "ui/gdi_handles.h"

template <typename F>
Frame DrawOnBitmap(int width, int height, std::uint32_t background, F draw) {
    using namespace Gdiplus::DllExports;
    Frame frame;
    frame.width = width;
    frame.height = height;
    frame.pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), background);
    UniqueBitmap bitmap;
    if (GdipCreateBitmapFromScan0(width, height, width * 4, PixelFormat32bppARGB,
                                  reinterpret_cast<BYTE*>(frame.pixels.data()),
                                  bitmap.put()) != Gdiplus::Ok) {
        return Frame();
    }
    UniqueGraphics graphics;
    if (GdipGetImageGraphicsContext(bitmap.get(), graphics.put()) != Gdiplus::Ok)
        return Frame();
    GdipSetSmoothingMode(graphics.get(), Gdiplus::SmoothingModeAntiAlias);
    GdipSetTextRenderingHint(graphics.get(), Gdiplus::TextRenderingHintAntiAlias);
    draw(graphics.get());
    return frame;
}
