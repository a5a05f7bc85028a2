// Brushes made the same way by every element.
#pragma once

#include "ui/gdi_handles.h"

// A linear gradient between two points, first colour at the first point (wrap mode tile).
inline UniqueLineBrush LineGradient(float x1, float y1, float x2, float y2, Gdiplus::ARGB first,
                                    Gdiplus::ARGB second) {
    const Gdiplus::PointF from(x1, y1);
    const Gdiplus::PointF to(x2, y2);
    UniqueLineBrush brush;
    if (Gdiplus::DllExports::GdipCreateLineBrush(&from, &to, first, second, Gdiplus::WrapModeTile,
                                                 brush.put()) != Gdiplus::Ok) {
        brush.reset();
    }
    return brush;
}

inline UniqueLineBrush VerticalGradient(float x, float y1, float y2, Gdiplus::ARGB top,
                                        Gdiplus::ARGB bottom) {
    return LineGradient(x, y1, x, y2, top, bottom);
}

inline UniqueSolidFill SolidFill(Gdiplus::ARGB colour) {
    UniqueSolidFill brush;
    if (Gdiplus::DllExports::GdipCreateSolidFill(colour, brush.put()) != Gdiplus::Ok) {
        brush.reset();
    }
    return brush;
}

inline UniquePath NewPath() {
    UniquePath path;
    if (Gdiplus::DllExports::GdipCreatePath(Gdiplus::FillModeAlternate, path.put()) !=
        Gdiplus::Ok) {
        path.reset();
    }
    return path;
}
