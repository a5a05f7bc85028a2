#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <sstream>
#include <string>

#include "app/window_state.h"
#include "ui/buttons.h"
#include "ui/ui_support.h"

namespace {

TEST(HitRect, LeftAndTopEdgesHitRightAndBottomDoNot) {
    const HitRect play{660.0f, 370.0f, 180.0f, 56.0f};
    EXPECT_TRUE(HitRectContains(play, 660.0f, 370.0f));
    EXPECT_TRUE(HitRectContains(play, 839.99f, 425.99f));
    EXPECT_FALSE(HitRectContains(play, 840.0f, 400.0f));
    EXPECT_FALSE(HitRectContains(play, 700.0f, 426.0f));
    EXPECT_FALSE(HitRectContains(play, 659.99f, 400.0f));
    EXPECT_FALSE(HitRectContains(play, 700.0f, 369.99f));
    // Fractional rectangles compare as floats, not after rounding.
    const HitRect sheen{62.0f, 490.0f, 116.0f, 14.28f};
    EXPECT_TRUE(HitRectContains(sheen, 100.0f, 504.0f));
    EXPECT_FALSE(HitRectContains(sheen, 100.0f, 504.28f));
}

TEST(HitRect, AnUnpaintedRectangleHitsNothing) {
    const HitRect never;
    EXPECT_FALSE(HitRectContains(never, 0.0f, 0.0f));
    EXPECT_FALSE(HitRectContains(never, -1.0f, -1.0f));
}

// The window's values as text, so that a difference names the value.
std::string WindowValues() {
    std::ostringstream out;
    out << "pointer " << gMouseX << "," << gMouseY << " tick " << gFrameTick << " settings "
        << gSettingsOpen << " splash " << gSplashActive << "/" << gSplashTick << " pictures "
        << gBackgroundPicture << " " << gBadgePicture << " buttons";
    for (const HitRect& r : gHitRects)
        out << " " << r.x << "," << r.y << "," << r.width << "," << r.height;
    return out.str();
}

// Taken before any test runs: the values are constant-initialised, so this is how the program
// starts.
const std::string kAtProgramStart = WindowValues();

// A window made after another (the window tests make many) starts as the program does, whatever
// the last one changed; with both pages painted, a pointer that has not moved yet hovers nothing.
TEST(WindowState, ResetStartsAsTheProgramDoes) {
    const auto somePicture = reinterpret_cast<Gdiplus::GpImage*>(std::uintptr_t{0x1000});
    const struct {
        const char* changed;
        std::function<void()> change;
    } rows[] = {
        {"pointer", [] { gMouseX = gMouseY = 5; }},
        {"frame tick", [] { gFrameTick = 12; }},
        {"settings page", [] { gSettingsOpen = true; }},
        {"splash",
         [] {
             gSplashActive = true;
             gSplashTick = 9;
         }},
        {"pictures", [&] { gBackgroundPicture = gBadgePicture = somePicture; }},
        {"every button",
         [] {
             for (HitRect& r : gHitRects)
                 r = HitRect{60.0f, 500.0f, 160.0f, 38.0f};
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.changed);
        row.change();
        ResetWindowState();
        EXPECT_EQ(WindowValues(), kAtProgramStart);
    }
    for (const bool settings : {false, true}) {
        gSettingsOpen = settings;
        ASSERT_EQ(Compose(900, 560).width, 900);
    }
    for (const HitRect& r : gHitRects) {
        EXPECT_GT(r.width, 0.0f);
        EXPECT_FALSE(IsButtonHovered(r, true, gMouseX, gMouseY));
    }
    ResetWindowState();
}

TEST(WindowState, NoPictureIsUsableWhenAbsent) {
    EXPECT_FALSE(IsPictureUsable(nullptr));
}

}  // namespace
