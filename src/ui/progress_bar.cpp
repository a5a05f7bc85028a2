#include "ui/progress_bar.h"

#include <cmath>
#include <cwchar>

#include "ui/brushes.h"
#include "ui/buttons.h"
#include "ui/fonts.h"

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

RectF LabelBox(float x, float y, float size, StringAlignment alignment) {
    return alignment == StringAlignmentFar ? RectF(0.0f, y, x, 2.0f * size)
                                           : RectF(x, y, 900.0f, 2.0f * size);
}

void DrawLabel(GpGraphics* graphics, const std::wstring& text, float x, float y, float size,
               ARGB colour, bool bold, StringAlignment alignment) {
    const UiFont font(size, bold);
    if (font.get() == nullptr)
        return;
    const UniqueSolidFill brush = SolidFill(colour);
    const UiFormat format(alignment, StringAlignmentNear);
    const RectF box = LabelBox(x, y, size, alignment);
    if (brush)
        GdipDrawString(graphics, text.c_str(), -1, font.get(), &box, format.get(), brush.get());
}

std::wstring PercentText(double fraction) {
    double rounded = std::trunc(fraction * 100.0 + 0.5);
    // Keeps the conversion defined for any input; real fractions stay far inside this range.
    if (!(rounded >= -2147483648.0))
        rounded = -2147483648.0;
    if (rounded > 2147483647.0)
        rounded = 2147483647.0;
    wchar_t buffer[16];
    std::swprintf(buffer, 16, L"%d%%", static_cast<int>(rounded));
    return buffer;
}

float ProgressFillWidth(float width, double fraction) {
    return static_cast<float>(static_cast<double>(width) * fraction);
}

bool ProgressShowsFill(double fraction) {
    return fraction > 0.001;
}

void DrawProgressBar(GpGraphics* graphics, float x, float y, float width, float height,
                     double fraction, const std::wstring& label) {
    DrawProgressCaption(graphics, x, y, label);
    DrawProgressTrack(graphics, x, y, width, height, fraction);
    DrawProgressPercent(graphics, x, y, width, height, fraction);
}

void DrawProgressCaption(GpGraphics* graphics, float x, float y, const std::wstring& label) {
    DrawLabel(graphics, label, x, y - kProgressCaptionRise, kProgressCaptionSize, 0xD2D2CDDC, false,
              StringAlignmentNear);
}

void DrawProgressTrack(GpGraphics* graphics, float x, float y, float width, float height,
                       double fraction) {
    const UniquePath track = NewPath();
    if (track) {
        AddRoundedRect(track.get(), x, y, width, height, height);
        const UniqueSolidFill trackFill = SolidFill(0xD2121018);
        if (trackFill)
            GdipFillPath(graphics, trackFill.get(), track.get());
    }

    if (track && ProgressShowsFill(fraction)) {
        UniqueRegion clip;
        if (GdipCreateRegionPath(track.get(), clip.put()) == Ok) {
            GdipSetClipRegion(graphics, clip.get(), CombineModeReplace);
            const float f = ProgressFillWidth(width, fraction);
            const UniqueLineBrush fill = VerticalGradient(x, y, y + height, 0xFFFCC846, 0xFFD66018);
            if (fill)
                GdipFillRectangle(graphics, fill.get(), x, y, f, height);
            const UniqueLineBrush sheen =
                VerticalGradient(x, y, y + height / 2.0f, 0x78FFFFFF, 0x00FFFFFF);
            if (sheen)
                GdipFillRectangle(graphics, sheen.get(), x, y, f, height / 2.0f);
            GdipResetClip(graphics);
        }
    }

    if (track) {
        UniquePen border;
        if (GdipCreatePen1(0x96FFCD82, 1.0f, UnitWorld, border.put()) == Ok) {
            GdipDrawPath(graphics, border.get(), track.get());
        }
    }
}

void DrawProgressPercent(GpGraphics* graphics, float x, float y, float width, float height,
                         double fraction) {
    const UiFont font(kProgressPercentSize, true);
    if (font.get() == nullptr)
        return;
    const std::wstring percent = PercentText(fraction);
    const UiFormat format(StringAlignmentCenter, StringAlignmentCenter);
    const UniqueSolidFill shadow = SolidFill(0xA0000000);
    const UniqueSolidFill face = SolidFill(0xFFFFF8E6);
    const RectF shadowBox(x + kProgressPercentShadowOffset, y + kProgressPercentShadowOffset, width,
                          height);
    const RectF faceBox(x, y, width, height);
    if (shadow) {
        GdipDrawString(graphics, percent.c_str(), -1, font.get(), &shadowBox, format.get(),
                       shadow.get());
    }
    if (face) {
        GdipDrawString(graphics, percent.c_str(), -1, font.get(), &faceBox, format.get(),
                       face.get());
    }
}
