#pragma once

#include <windows.h>

// Where and how large the badge window is for a screen and the badge's width/height ratio.
struct SplashGeometry {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    int corner = 0;  // width and height of the ellipse that rounds each corner
};

SplashGeometry ComputeSplashGeometry(int screenWidth, int screenHeight, float ratio);

// Layered-window alpha on the given splash tick (1-based): fade in, hold, fade out to 0 at 72.
int SplashAlpha(int tick);

constexpr int kSplashCloseTick = 72;

// Starts the game client beside the launcher and turns the window into the fading badge. The
// game is started at most once; a failure shows an error box and changes nothing.
void LaunchGame(HWND window);

// One timer step of the badge fade. True when it posted WM_CLOSE (then no repaint is wanted).
bool SplashFade(HWND window);
