// Pixel layers of the frame cache: W x H pixels of 0xAARRGGBB that GDI+ draws straight into, and
// views that let GDI+ draw into one rectangle of such a layer only.
#pragma once

#include <cstdint>
#include <memory>

#include "ui/gdi_handles.h"
#include "ui/pixel_box.h"

// The memory is either our own or, when presentable, a DIB section selected into a memory DC so
// that it can be presented with BitBlt.
class Surface {
  public:
    // Any previous content is released first; a new surface is transparent black.
    bool Create(int width, int height, bool presentable);
    void Release();

    bool Valid() const { return pixels_ != nullptr && graphics_.valid(); }
    Gdiplus::GpGraphics* graphics() const { return graphics_.get(); }
    HDC dc() const { return dc_.get(); }
    std::uint32_t* Row(int y) const { return pixels_ + static_cast<size_t>(y) * width_; }
    const std::uint32_t* Pixels() const { return pixels_; }
    size_t Count() const { return static_cast<size_t>(width_) * static_cast<size_t>(height_); }
    Box Bounds() const { return {0, 0, width_, height_}; }
    int Width() const { return width_; }

    void Fill(std::uint32_t value);
    void Fill(const Box& box, std::uint32_t value);
    // The box's pixels from a surface of the same size.
    void CopyFrom(const Surface& from, const Box& box);

  private:
    bool Fail();

    int width_ = 0;
    int height_ = 0;
    std::unique_ptr<std::uint32_t[]> own_;
    UniqueGdiBitmap dib_;
    UniqueMemoryDc dc_;
    UniqueBitmap bitmap_;
    UniqueGraphics graphics_;
    std::uint32_t* pixels_ = nullptr;
};

// A GDI+ bitmap and graphics over one rectangle of a surface, shifted so that elements draw in
// window coordinates. Nothing can land outside the rectangle, and GDI+ only works on its pixels.
class SurfaceView {
  public:
    SurfaceView(const Surface& surface, const Box& box);
    // Null when GDI+ could not make the view.
    Gdiplus::GpGraphics* graphics() const { return graphics_.get(); }

  private:
    UniqueBitmap bitmap_;
    UniqueGraphics graphics_;
};
