#include "ui/badge.h"

#include <cmath>

#include "ui/frame_input.h"
#include "ui/brushes.h"
#include "ui/fonts.h"

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

void DrawCaption(GpGraphics* graphics, const wchar_t* text, float size, bool bold, ARGB colour,
                 const RectF& box, GpStringFormat* format) {
    const UiFont font(size, bold);
    const UniqueSolidFill brush = SolidFill(colour);
    if (font.get() && brush)
        GdipDrawString(graphics, text, -1, font.get(), &box, format, brush.get());
}

}  // namespace

ShieldGeometry FallbackShieldGeometry(int width, int height) {
    ShieldGeometry g;
    g.cx = static_cast<float>(width) * 0.5f;
    g.cy = static_cast<float>(height) * 0.5f - 20.0f;
    // A pulse frozen at one phase: the same scale on every frame.
    g.scale = static_cast<float>(1.0 + 0.05 * std::sin(6.0));
    g.width = 90.0f * g.scale;
    g.height = 110.0f * g.scale;
    return g;
}

void DrawSplash(GpGraphics* graphics, int width, int height, GpImage* badge) {
    GdipGraphicsClear(graphics, 0x00000000);
    if (IsPictureUsable(badge)) {
        const float w = static_cast<float>(width) * 1.08f;
        const float h = static_cast<float>(height) * 1.08f;
        const float x0 = (static_cast<float>(width) - w) * 0.5f;
        const float y0 = (static_cast<float>(height) - h) * 0.5f;
        GdipDrawImageRect(graphics, badge, x0, y0, w, h);
        return;
    }
    const UniqueSolidFill base = SolidFill(0xFF060A16);
    if (base)
        GdipFillRectangleI(graphics, base.get(), 0, 0, width, height);
    DrawFallbackBadge(graphics, width, height);
}

void DrawFallbackBadge(GpGraphics* graphics, int width, int height) {
    const UniqueSolidFill veil = SolidFill(0xC806040A);
    if (veil)
        GdipFillRectangleI(graphics, veil.get(), 0, 0, width, height);

    const ShieldGeometry s = FallbackShieldGeometry(width, height);
    const float left = s.cx - s.width / 2.0f;
    const float right = s.cx + s.width / 2.0f;
    const float top = s.cy - s.height / 2.0f;
    const float tip = s.cy + s.height / 2.0f;

    // The joins GDI+ adds (arc end to the first line, and the close) cross each other, so the
    // alternate rule leaves the two side triangles unfilled.
    const UniquePath shield = NewPath();
    if (shield) {
        GdipAddPathArc(shield.get(), left, top, s.width, 0.6f * s.height, 180.0f, 180.0f);
        GdipAddPathLine(shield.get(), left, s.cy, s.cx, tip);
        GdipAddPathLine(shield.get(), s.cx, tip, right, s.cy);
        GdipClosePathFigure(shield.get());
        const UniqueLineBrush fill = VerticalGradient(s.cx, top, tip, 0xFF5AC878, 0xFF145A32);
        if (fill)
            GdipFillPath(graphics, fill.get(), shield.get());
        UniquePen outline;
        if (GdipCreatePen1(0xFFA0FFB4, 2.5f, UnitWorld, outline.put()) == Ok) {
            GdipDrawPath(graphics, outline.get(), shield.get());
        }
    }

    UniquePen check;
    if (GdipCreatePen1(0xFFF0FFF0, 5.0f, UnitWorld, check.put()) == Ok) {
        GdipDrawLine(graphics, check.get(), s.cx - 22.0f, s.cy, s.cx - 6.0f, s.cy + 20.0f);
        GdipDrawLine(graphics, check.get(), s.cx - 6.0f, s.cy + 20.0f, s.cx + 26.0f, s.cy - 22.0f);
    }

    const UiFormat format(StringAlignmentCenter, StringAlignmentNear);
    const float w = static_cast<float>(width);
    DrawCaption(graphics, L"protected by Varnguard", 22.0f, true, 0xFFDCFFDC,
                RectF(0.0f, tip + 14.0f, w, 40.0f), format.get());
    DrawCaption(graphics, L"védett játékkörnyezet", 13.0f, false, 0xC896DCA0,
                RectF(0.0f, tip + 46.0f, w, 30.0f), format.get());
}
