#include "ui/frame_parts.h"

#include <algorithm>
#include <cmath>

#include "ui/brushes.h"
#include "ui/buttons.h"
#include "ui/embers.h"
#include "ui/fonts.h"
#include "ui/progress_bar.h"

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

void FillGradientRect(GpGraphics* graphics, const GradientRectPart& part) {
    const UniqueLineBrush brush =
        VerticalGradient(static_cast<float>(part.x), static_cast<float>(part.y),
                         static_cast<float>(part.y + part.height), part.top, part.bottom);
    if (brush)
        GdipFillRectangleI(graphics, brush.get(), part.x, part.y, part.width, part.height);
}

void DrawCentred(GpGraphics* graphics, const std::wstring& text, GpFont* font, const RectF& box,
                 GpBrush* brush) {
    const UiFormat format(StringAlignmentCenter, StringAlignmentCenter);
    GdipDrawString(graphics, text.c_str(), -1, font, &box, format.get(), brush);
}

}  // namespace

bool IsPictureUsable(GpImage* picture) {
    if (picture == nullptr)
        return false;
    ImageType type = ImageTypeUnknown;
    return GdipGetImageType(picture, &type) == Ok && type != ImageTypeUnknown;
}

void DrawBackground(GpGraphics* graphics, const GradientRectPart& fallback, GpImage* picture) {
    if (IsPictureUsable(picture)) {
        GdipDrawImageRectI(graphics, picture, fallback.x, fallback.y, fallback.width,
                           fallback.height);
        return;
    }
    FillGradientRect(graphics, fallback);
}

void DrawEmberBand(GpGraphics* graphics, const RectF& band, int width, int height,
                   std::int32_t frameTick, bool skipHidden) {
    UniqueRegion region;
    if (GdipCreateRegionRect(&band, region.put()) == Ok) {
        GdipSetClipRegion(graphics, region.get(), CombineModeReplace);
    }
    UpdateEmbers(width, height, frameTick);
    // Taken wide on purpose: a band of negative height counts with its absolute extent, so
    // nothing that could be drawn is skipped.
    const RectF visible(band.X, std::min(band.Y, band.Y + band.Height), band.Width,
                        std::abs(band.Height));
    DrawEmbers(graphics, skipHidden ? &visible : nullptr);
    GdipResetClip(graphics);
}

void DrawPart(GpGraphics* graphics, const PagePart& part) {
    std::visit([graphics](const auto& p) { DrawPart(graphics, p); }, part);
}

void DrawPart(GpGraphics* graphics, const GradientRectPart& part) {
    FillGradientRect(graphics, part);
}

void DrawPart(GpGraphics* graphics, const RulePart& part) {
    const UniqueLineBrush brush = LineGradient(0.0f, 0.0f, part.width, 0.0f, part.edge, part.edge);
    if (!brush)
        return;
    const ARGB colours[3] = {part.edge, part.middle, part.edge};
    const REAL positions[3] = {0.0f, 0.5f, 1.0f};
    GdipSetLinePresetBlend(brush.get(), colours, positions, 3);
    UniquePen pen;
    if (GdipCreatePen2(brush.get(), part.thickness, UnitWorld, pen.put()) == Ok) {
        GdipDrawLine(graphics, pen.get(), 0.0f, part.y, part.width, part.y);
    }
}

void DrawPart(GpGraphics* graphics, const TextPart& part) {
    const UiFont font(part.size, part.bold);
    const UniqueSolidFill brush = SolidFill(part.colour);
    if (font.get() != nullptr && brush)
        DrawCentred(graphics, part.text, font.get(), part.box, brush.get());
}

void DrawPart(GpGraphics* graphics, const TitlePart& part) {
    const UiFont font(part.size, part.bold);
    if (font.get() == nullptr)
        return;
    const UniqueSolidFill shadow = SolidFill(part.shadow);
    if (shadow) {
        const RectF shadowBox(part.box.X + part.shadowOffset, part.box.Y + part.shadowOffset,
                              part.box.Width, part.box.Height);
        DrawCentred(graphics, part.text, font.get(), shadowBox, shadow.get());
    }
    const UniqueLineBrush face =
        VerticalGradient(part.box.X, part.box.Y, part.box.Y + part.box.Height, part.gradientTop,
                         part.gradientBottom);
    if (!face)
        return;
    GdipSetLinePresetBlend(face.get(), part.blend, part.blendPositions, 4);
    DrawCentred(graphics, part.text, font.get(), part.box, face.get());
}

void DrawPart(GpGraphics* graphics, const PanelPart& part) {
    const UniquePath path = NewPath();
    if (!path)
        return;
    AddRoundedRect(path.get(), part.rect.X, part.rect.Y, part.rect.Width, part.rect.Height,
                   part.corner);
    const UniqueLineBrush fill =
        VerticalGradient(0.0f, part.fillTop, part.fillBottom, part.top, part.bottom);
    if (fill)
        GdipFillPath(graphics, fill.get(), path.get());
    UniquePen outline;
    if (GdipCreatePen1(part.outline, 1.0f, UnitWorld, outline.put()) == Ok) {
        GdipDrawPath(graphics, outline.get(), path.get());
    }
}

void DrawPart(GpGraphics* graphics, const LabelPart& part) {
    DrawLabel(graphics, part.text, part.x, part.y, part.size, part.colour, part.bold,
              part.alignment);
}

void DrawPart(GpGraphics* graphics, const BarPart& part) {
    DrawProgressBar(graphics, part.x, part.y, part.width, part.height, part.fraction, part.caption);
}

void DrawPart(GpGraphics* graphics, const ButtonPart& part) {
    DrawButton(graphics, part.rect, part.label, part.enabled, part.primary, part.hovered);
}

RectF PartExtent(const GradientRectPart& part) {
    return RectF(static_cast<float>(part.x), static_cast<float>(part.y),
                 static_cast<float>(part.width), static_cast<float>(part.height));
}

RectF PartExtent(const RulePart& part) {
    return RectF(0.0f, part.y - part.thickness / 2.0f, part.width, part.thickness);
}

RectF PartExtent(const TextPart& part) {
    return part.box;
}

RectF PartExtent(const TitlePart& part) {
    return RectF(part.box.X, part.box.Y, part.box.Width + part.shadowOffset,
                 part.box.Height + part.shadowOffset);
}

RectF PartExtent(const PanelPart& part) {
    return part.rect;
}

RectF PartExtent(const LabelPart& part) {
    return LabelBox(part.x, part.y, part.size, part.alignment);
}

RectF PartExtent(const ButtonPart& part) {
    const HitRect& r = part.rect;
    return RectF(r.x - kButtonGlowReach, r.y - kButtonGlowReach, r.width + 2.0f * kButtonGlowReach,
                 r.height + 2.0f * kButtonGlowReach);
}
