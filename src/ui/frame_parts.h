// Drawing the parts of a page layout, and where each of them can change pixels. The plain
// painter draws every part in layout order; the frame cache draws the same parts where it must.
#pragma once

#include <cstdint>

#include "ui/gdiplus_include.h"
#include "ui/page_layout.h"

// The background picture stretched over the fallback's rectangle (its aspect ratio is not kept),
// or the fallback gradient when the picture is not usable.
void DrawBackground(Gdiplus::GpGraphics* graphics, const GradientRectPart& fallback,
                    Gdiplus::GpImage* picture);

// Sets the clip to the band, advances the embers by the step of timer tick `frameTick`, draws
// them and lifts the clip. With `skipHidden`, embers outside the band are not sent to GDI+ (same
// pixels, less work).
void DrawEmberBand(Gdiplus::GpGraphics* graphics, const Gdiplus::RectF& band, int width, int height,
                   std::int32_t frameTick, bool skipHidden = false);

void DrawPart(Gdiplus::GpGraphics* graphics, const PagePart& part);
void DrawPart(Gdiplus::GpGraphics* graphics, const GradientRectPart& part);
void DrawPart(Gdiplus::GpGraphics* graphics, const RulePart& part);
void DrawPart(Gdiplus::GpGraphics* graphics, const TextPart& part);
void DrawPart(Gdiplus::GpGraphics* graphics, const TitlePart& part);
void DrawPart(Gdiplus::GpGraphics* graphics, const PanelPart& part);
void DrawPart(Gdiplus::GpGraphics* graphics, const LabelPart& part);
void DrawPart(Gdiplus::GpGraphics* graphics, const BarPart& part);
void DrawPart(Gdiplus::GpGraphics* graphics, const ButtonPart& part);

// The rectangle a part draws in. Anti-aliasing, half-pixel pens and text shadows reach at most a
// few pixels past it.
Gdiplus::RectF PartExtent(const GradientRectPart& part);
Gdiplus::RectF PartExtent(const RulePart& part);
Gdiplus::RectF PartExtent(const TextPart& part);
Gdiplus::RectF PartExtent(const TitlePart& part);
Gdiplus::RectF PartExtent(const PanelPart& part);
Gdiplus::RectF PartExtent(const LabelPart& part);
Gdiplus::RectF PartExtent(const ButtonPart& part);
