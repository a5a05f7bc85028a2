// Painting of the whole client area: the splash, MainView or SettingsView.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "ui/frame_input.h"

// Plain composes every frame from scratch, element by element; Cached keeps the layers that did
// not change since the last frame and gives the same pixels at a fraction of the cost.
enum class FrameMode { Plain, Cached };

void SetFrameMode(FrameMode mode);

// Composes the frame for a W x H client area from what it is given and copies it to the device
// context. Stores the HitRect of every button it draws where the input says and advances the
// embers by one step (except on the splash).
void PaintFrame(HDC dc, int width, int height, const FrameInput& input);

// The frame PaintFrame would present, with the same effects, as 0xAARRGGBB values in top-down
// rows. False (and nothing changed) when no frame can be made, as for an empty client area.
bool ComposeFrame(int width, int height, FrameMode mode, const FrameInput& input,
                  std::vector<std::uint32_t>& pixels);
