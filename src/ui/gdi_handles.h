// Owners of COM, GDI and GDI+ objects.
#pragma once

#include <windows.h>
#include <objbase.h>

#include "portable/unique_handle.h"
#include "ui/gdiplus_include.h"

// COM: interface pointers, and the apartment of the calling thread (true while it must be left).
template <typename Interface>
struct ComTraits {
    using Type = Interface*;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type p) noexcept { p->Release(); }
};
using UniqueStream = UniqueHandle<ComTraits<IStream>>;

struct ComApartmentTraits {
    using Type = bool;
    static Type Invalid() noexcept { return false; }
    static void Close(Type) noexcept { ::CoUninitialize(); }
};
using UniqueComApartment = UniqueHandle<ComApartmentTraits>;

// GDI: bitmaps and regions (DeleteObject), memory device contexts (DeleteDC).
template <typename T>
struct GdiObjectTraits {
    using Type = T;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::DeleteObject(h); }
};
using GdiBitmapTraits = GdiObjectTraits<HBITMAP>;
using UniqueGdiBitmap = UniqueHandle<GdiBitmapTraits>;
using UniqueGdiRegion = UniqueHandle<GdiObjectTraits<HRGN>>;

struct MemoryDcTraits {
    using Type = HDC;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::DeleteDC(h); }
};
using UniqueMemoryDc = UniqueHandle<MemoryDcTraits>;

// GDI+: the library itself (its start-up token), and the flat-API objects the painter creates.
struct GdiplusTokenTraits {
    using Type = ULONG_PTR;
    static Type Invalid() noexcept { return 0; }
    static void Close(Type token) noexcept { Gdiplus::GdiplusShutdown(token); }
};
using UniqueGdiplusToken = UniqueHandle<GdiplusTokenTraits>;

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
