#include "ui/surface.h"

#include <algorithm>
#include <cstring>
#include <new>

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

void PrepareGraphics(GpGraphics* graphics) {
    GdipSetSmoothingMode(graphics, SmoothingModeAntiAlias);
    GdipSetTextRenderingHint(graphics, TextRenderingHintAntiAlias);
}

}  // namespace

bool Surface::Create(int width, int height, bool presentable) {
    Release();
    width_ = width;
    height_ = height;
    if (presentable) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;  // top-down rows, like the GDI+ layers
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        dib_.reset(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
        if (!dib_)
            return Fail();
        dc_.reset(::CreateCompatibleDC(nullptr));
        if (!dc_)
            return Fail();
        ::SelectObject(dc_.get(), dib_.get());
        pixels_ = static_cast<std::uint32_t*>(bits);
    } else {
        own_.reset(new (std::nothrow) std::uint32_t[Count()]);
        if (!own_)
            return Fail();
        pixels_ = own_.get();
    }
    if (GdipCreateBitmapFromScan0(width, height, width * 4, PixelFormat32bppARGB,
                                  reinterpret_cast<BYTE*>(pixels_), bitmap_.put()) != Ok) {
        bitmap_.reset();
        return Fail();
    }
    if (GdipGetImageGraphicsContext(bitmap_.get(), graphics_.put()) != Ok) {
        graphics_.reset();
        return Fail();
    }
    PrepareGraphics(graphics_.get());
    Fill(0);
    return true;
}

void Surface::Release() {
    graphics_.reset();
    bitmap_.reset();
    dc_.reset();
    dib_.reset();
    own_.reset();
    pixels_ = nullptr;
    width_ = height_ = 0;
}

bool Surface::Fail() {
    Release();
    return false;
}

void Surface::Fill(std::uint32_t value) {
    std::fill(pixels_, pixels_ + Count(), value);
}

void Surface::Fill(const Box& box, std::uint32_t value) {
    for (int y = box.top; y < box.bottom; ++y)
        std::fill(Row(y) + box.left, Row(y) + box.right, value);
}

void Surface::CopyFrom(const Surface& from, const Box& box) {
    const size_t bytes = static_cast<size_t>(box.right - box.left) * 4;
    for (int y = box.top; y < box.bottom; ++y) {
        std::memcpy(Row(y) + box.left, from.Row(y) + box.left, bytes);
    }
}

SurfaceView::SurfaceView(const Surface& surface, const Box& box) {
    BYTE* first = reinterpret_cast<BYTE*>(surface.Row(box.top) + box.left);
    if (GdipCreateBitmapFromScan0(box.right - box.left, box.bottom - box.top, surface.Width() * 4,
                                  PixelFormat32bppARGB, first, bitmap_.put()) != Ok) {
        bitmap_.reset();
        return;
    }
    if (GdipGetImageGraphicsContext(bitmap_.get(), graphics_.put()) != Ok) {
        graphics_.reset();
        return;
    }
    PrepareGraphics(graphics_.get());
    GdipTranslateWorldTransform(graphics_.get(), static_cast<REAL>(-box.left),
                                static_cast<REAL>(-box.top), MatrixOrderPrepend);
}
