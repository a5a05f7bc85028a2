#include "ui/buttons.h"

#include "ui/brushes.h"
#include "ui/fonts.h"
#include "ui/gdi_handles.h"

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

void AddRoundedRect(GpPath* path, float x, float y, float w, float h, float d) {
    GdipAddPathArc(path, x, y, d, d, 180.0f, 90.0f);
    GdipAddPathArc(path, x + w - d, y, d, d, 270.0f, 90.0f);
    GdipAddPathArc(path, x + w - d, y + h - d, d, d, 0.0f, 90.0f);
    GdipAddPathArc(path, x, y + h - d, d, d, 90.0f, 90.0f);
    GdipClosePathFigure(path);
}

ButtonLook PickButtonLook(bool primary, bool enabled, bool hovered) {
    ButtonLook look{};
    if (!enabled) {
        look = {0xFF403C46, 0xFF28262E, 0xFF605C68, 0xFF96929C, 0x00000000, 0, 0};
    } else if (primary) {
        look = hovered
                   ? ButtonLook{0xFFFFD678, 0xFFE26016, 0xFFFFECAA, 0xFF281204, 0x96FF9628, 0, 0}
                   : ButtonLook{0xFFFFBA42, 0xFFC44A0E, 0xFFFFECAA, 0xFF281204, 0x50FF9628, 0, 0};
    } else {
        look = hovered
                   ? ButtonLook{0xFF5C4A6C, 0xFF3A2E48, 0xFFE6B46E, 0xFFF0E8DC, 0x5AC8965A, 0, 0}
                   : ButtonLook{0xFF3C3448, 0xFF282232, 0xFF96785A, 0xFFF0E8DC, 0x00C8965A, 0, 0};
    }
    // These follow the style alone, so a disabled primary button keeps them.
    look.sheen = primary ? 0x78FFFFFF : 0x46FFFFFF;
    look.labelSize = primary ? 18.0f : 13.5f;
    return look;
}

bool IsButtonHovered(const HitRect& rect, bool enabled, std::int32_t mouseX, std::int32_t mouseY) {
    return enabled && HitRectContains(rect, static_cast<float>(mouseX), static_cast<float>(mouseY));
}

namespace {

void DrawGlow(GpGraphics* graphics, const HitRect& r, ARGB glow) {
    UniquePath path = NewPath();
    if (!path)
        return;
    AddRoundedRect(path.get(), r.x - kButtonGlowReach, r.y - kButtonGlowReach,
                   r.width + 2.0f * kButtonGlowReach, r.height + 2.0f * kButtonGlowReach, 14.0f);
    UniquePathGradient brush;
    if (GdipCreatePathGradientFromPath(path.get(), brush.put()) != Ok)
        return;
    GdipSetPathGradientCenterColor(brush.get(), glow);
    INT points = 0;
    GdipGetPathGradientPointCount(brush.get(), &points);
    if (points >= 1) {
        // One colour is enough: GDI+ repeats it for every boundary point.
        const ARGB surround = glow & 0x00FFFFFF;
        INT count = 1;
        GdipSetPathGradientSurroundColorsWithCount(brush.get(), &surround, &count);
    }
    GdipFillPath(graphics, brush.get(), path.get());
}

}  // namespace

void DrawButton(GpGraphics* graphics, const HitRect& r, const std::wstring& label, bool enabled,
                bool primary, bool hovered) {
    const ButtonLook look = PickButtonLook(primary, enabled, hovered);

    UniquePath body = NewPath();
    if (body)
        AddRoundedRect(body.get(), r.x, r.y, r.width, r.height, 10.0f);

    if ((look.glow >> 24) != 0)
        DrawGlow(graphics, r, look.glow);

    if (body) {
        UniqueLineBrush fill =
            VerticalGradient(r.x, r.y, r.y + r.height, look.bodyTop, look.bodyBottom);
        if (fill)
            GdipFillPath(graphics, fill.get(), body.get());
    }

    const float sheenHeight = r.height * 0.42f;
    UniquePath sheen = NewPath();
    if (sheen) {
        AddRoundedRect(sheen.get(), r.x + 2.0f, r.y + 2.0f, r.width - 4.0f, sheenHeight, 8.0f);
        UniqueLineBrush brush = VerticalGradient(r.x + 2.0f, r.y + 2.0f, r.y + 2.0f + sheenHeight,
                                                 look.sheen, 0x00FFFFFF);
        if (brush)
            GdipFillPath(graphics, brush.get(), sheen.get());
    }

    if (body) {
        UniquePen pen;
        if (GdipCreatePen1(look.border, 1.5f, UnitWorld, pen.put()) == Ok) {
            GdipDrawPath(graphics, pen.get(), body.get());
        }
    }

    const UiFont font(look.labelSize, true);
    if (font.get() == nullptr)
        return;
    const UiFormat format(StringAlignmentCenter, StringAlignmentCenter);
    const UniqueSolidFill shadow = SolidFill(0x78000000);
    const UniqueSolidFill face = SolidFill(look.label);
    const RectF shadowBox(r.x + 1.0f, r.y + 1.0f, r.width, r.height);
    const RectF faceBox(r.x, r.y, r.width, r.height);
    if (shadow) {
        GdipDrawString(graphics, label.c_str(), -1, font.get(), &shadowBox, format.get(),
                       shadow.get());
    }
    if (face) {
        GdipDrawString(graphics, label.c_str(), -1, font.get(), &faceBox, format.get(), face.get());
    }
}
