// Labelled progress bars and one-line texts.
#pragma once

#include <string>

#include "ui/gdiplus_include.h"

// The layout rectangle of DrawLabel: (x, y, 900, 2 x size) for near alignment, (0, y, x,
// 2 x size) for far alignment. The width 900 is fixed, not the client width: long lines run out
// of the window.
Gdiplus::RectF LabelBox(float x, float y, float size, Gdiplus::StringAlignment alignment);

// One line of text at (x, y): left-aligned from x (near), or right-aligned ending at x (far).
// Skipped when no font family exists.
void DrawLabel(Gdiplus::GpGraphics* graphics, const std::wstring& text, float x, float y,
               float size, Gdiplus::ARGB colour, bool bold, Gdiplus::StringAlignment alignment);

// The whole-number percentage shown on a bar: trunc(fraction x 100 + 0.5), as "%d%%".
std::wstring PercentText(double fraction);

// The fill's width in pixels; the fill is drawn only when the fraction is above 0.001.
float ProgressFillWidth(float width, double fraction);
bool ProgressShowsFill(double fraction);

// Caption above, pill-shaped track, clipped fill with sheen, border and centred percentage.
void DrawProgressBar(Gdiplus::GpGraphics* graphics, float x, float y, float width, float height,
                     double fraction, const std::wstring& label);

// A bar's caption is a label this far above the track; the percentage is centred on the track,
// over its shadow one pixel down and right.
constexpr float kProgressCaptionRise = 19.0f;
constexpr float kProgressCaptionSize = 12.5f;
constexpr float kProgressPercentSize = 12.5f;
constexpr float kProgressPercentShadowOffset = 1.0f;

// The three steps of DrawProgressBar, in its order: the caption above the track; the track with
// its fill and border; the percentage.
void DrawProgressCaption(Gdiplus::GpGraphics* graphics, float x, float y,
                         const std::wstring& label);
void DrawProgressTrack(Gdiplus::GpGraphics* graphics, float x, float y, float width, float height,
                       double fraction);
void DrawProgressPercent(Gdiplus::GpGraphics* graphics, float x, float y, float width, float height,
                         double fraction);
