// Owners of COM, GDI and GDI+ objects.
#pragma once

#include <windows.h>
#include <objbase.h>

#include "portable/unique_handle.h"
#include "ui/gdiplus_include.h"

// COM: interface pointers, and the apartment of the calling thread (true while it must be left).
template <typename Interface>
void ReleaseInterface(Interface* p) noexcept {
    p->Release();
}
using UniqueStream = UniqueHandle<ReleasedBy<IStream*, ReleaseInterface<IStream>>>;

inline void LeaveApartment(bool) noexcept {
    ::CoUninitialize();
}
using UniqueComApartment = UniqueHandle<ReleasedBy<bool, LeaveApartment>>;

// GDI: bitmaps and regions (DeleteObject), memory device contexts (DeleteDC).
using GdiBitmapTraits = ReleasedBy<HBITMAP, ::DeleteObject>;
using UniqueGdiBitmap = UniqueHandle<GdiBitmapTraits>;
using UniqueGdiRegion = UniqueHandle<ReleasedBy<HRGN, ::DeleteObject>>;
using UniqueMemoryDc = UniqueHandle<ReleasedBy<HDC, ::DeleteDC>>;

// GDI+: the library itself (its start-up token), and the flat-API objects the painter creates.
using UniqueGdiplusToken = UniqueHandle<ReleasedBy<ULONG_PTR, Gdiplus::GdiplusShutdown>>;

namespace gdiplus_release {
using namespace Gdiplus::DllExports;
// Brushes of every kind are released by one call that takes the base type, and bitmaps and
// decoded pictures alike by another.
template <typename T>
void Brush(T* p) noexcept {
    GdipDeleteBrush(p);
}
template <typename T>
void Image(T* p) noexcept {
    GdipDisposeImage(p);
}
}  // namespace gdiplus_release

using UniqueGraphics =
    UniqueHandle<ReleasedBy<Gdiplus::GpGraphics*, Gdiplus::DllExports::GdipDeleteGraphics>>;
using UniquePath = UniqueHandle<ReleasedBy<Gdiplus::GpPath*, Gdiplus::DllExports::GdipDeletePath>>;
using UniquePen = UniqueHandle<ReleasedBy<Gdiplus::GpPen*, Gdiplus::DllExports::GdipDeletePen>>;
using UniqueRegion =
    UniqueHandle<ReleasedBy<Gdiplus::GpRegion*, Gdiplus::DllExports::GdipDeleteRegion>>;
using UniqueFont = UniqueHandle<ReleasedBy<Gdiplus::GpFont*, Gdiplus::DllExports::GdipDeleteFont>>;
using UniqueFontFamily =
    UniqueHandle<ReleasedBy<Gdiplus::GpFontFamily*, Gdiplus::DllExports::GdipDeleteFontFamily>>;
using UniqueStringFormat =
    UniqueHandle<ReleasedBy<Gdiplus::GpStringFormat*, Gdiplus::DllExports::GdipDeleteStringFormat>>;
using UniqueSolidFill =
    UniqueHandle<ReleasedBy<Gdiplus::GpSolidFill*, gdiplus_release::Brush<Gdiplus::GpSolidFill>>>;
using UniqueLineBrush = UniqueHandle<
    ReleasedBy<Gdiplus::GpLineGradient*, gdiplus_release::Brush<Gdiplus::GpLineGradient>>>;
using UniquePathGradient = UniqueHandle<
    ReleasedBy<Gdiplus::GpPathGradient*, gdiplus_release::Brush<Gdiplus::GpPathGradient>>>;
using UniqueBitmap =
    UniqueHandle<ReleasedBy<Gdiplus::GpBitmap*, gdiplus_release::Image<Gdiplus::GpBitmap>>>;
using UniqueImage =
    UniqueHandle<ReleasedBy<Gdiplus::GpImage*, gdiplus_release::Image<Gdiplus::GpImage>>>;
