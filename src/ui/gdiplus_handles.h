// Owners for the GDI+ flat-API objects the painter creates, so that every delete happens exactly
// once on every path.
#pragma once

#include "app/unique_handle.h"
#include "ui/gdiplus_include.h"

template <typename T, Gdiplus::GpStatus(WINGDIPAPI* Delete)(T*)>
struct GdiplusTraits {
    using Type = T*;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type p) noexcept { Delete(p); }
};

// Brushes of every kind are released by one call that takes the base type.
template <typename T>
struct GdiplusBrushTraits {
    using Type = T*;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type p) noexcept { Gdiplus::DllExports::GdipDeleteBrush(p); }
};

// Bitmaps and decoded pictures alike.
template <typename T>
struct GdiplusImageTraits {
    using Type = T*;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type p) noexcept { Gdiplus::DllExports::GdipDisposeImage(p); }
};

using UniqueGraphics =
    UniqueHandle<GdiplusTraits<Gdiplus::GpGraphics, Gdiplus::DllExports::GdipDeleteGraphics>>;
using UniquePath =
    UniqueHandle<GdiplusTraits<Gdiplus::GpPath, Gdiplus::DllExports::GdipDeletePath>>;
using UniquePen = UniqueHandle<GdiplusTraits<Gdiplus::GpPen, Gdiplus::DllExports::GdipDeletePen>>;
using UniqueRegion =
    UniqueHandle<GdiplusTraits<Gdiplus::GpRegion, Gdiplus::DllExports::GdipDeleteRegion>>;
using UniqueFont =
    UniqueHandle<GdiplusTraits<Gdiplus::GpFont, Gdiplus::DllExports::GdipDeleteFont>>;
using UniqueFontFamily =
    UniqueHandle<GdiplusTraits<Gdiplus::GpFontFamily, Gdiplus::DllExports::GdipDeleteFontFamily>>;
using UniqueStringFormat = UniqueHandle<
    GdiplusTraits<Gdiplus::GpStringFormat, Gdiplus::DllExports::GdipDeleteStringFormat>>;
using UniqueSolidFill = UniqueHandle<GdiplusBrushTraits<Gdiplus::GpSolidFill>>;
using UniqueLineBrush = UniqueHandle<GdiplusBrushTraits<Gdiplus::GpLineGradient>>;
using UniquePathGradient = UniqueHandle<GdiplusBrushTraits<Gdiplus::GpPathGradient>>;
using UniqueBitmap = UniqueHandle<GdiplusImageTraits<Gdiplus::GpBitmap>>;
using UniqueImage = UniqueHandle<GdiplusImageTraits<Gdiplus::GpImage>>;
