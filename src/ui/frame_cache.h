// The cached way of painting a frame. The frame is kept as layers that survive between paints:
// the scaled background, the frame without embers ("still"), the parts drawn after the embers on
// a transparent layer ("top", only where embers can be), and the presented frame in a DIB
// section. A paint redraws only the elements whose look changed and the small squares the embers
// cover, and presents with BitBlt. Layers are rebuilt when the size, the page or the pictures
// change.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "ui/frame_input.h"

void PaintCachedFrame(HDC dc, int width, int height, const FrameInput& input);
bool ComposeCachedFrame(int width, int height, const FrameInput& input,
                        std::vector<std::uint32_t>& pixels);

// Frees every layer; the next cached paint builds them again. Call it before GdiplusShutdown.
void ReleaseFrameCache();
