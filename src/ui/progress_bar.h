// Labelled progress bars and one-line texts.
#pragma once

#include <string>

#include "ui/gdiplus_include.h"

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

// The three steps of DrawProgressBar, in its order: the caption above the track; the track with
// its fill and border; the percentage.
void DrawProgressCaption(Gdiplus::GpGraphics* graphics, float x, float y,
                         const std::wstring& label);
void DrawProgressTrack(Gdiplus::GpGraphics* graphics, float x, float y, float width, float height,
                       double fraction);
void DrawProgressPercent(Gdiplus::GpGraphics* graphics, float x, float y, float width, float height,
                         double fraction);
