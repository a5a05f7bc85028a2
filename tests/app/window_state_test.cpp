#include <gtest/gtest.h>

#include "app/window_state.h"

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

TEST(WindowState, StartValues) {
    gMouseX = 5;
    gSettingsOpen = true;
    gSplashActive = true;
    gSplashTick = 9;
    gFrameTick = 12;
    ButtonHitRect(Button::BackButton) = HitRect{60.0f, 500.0f, 160.0f, 38.0f};
    ResetWindowState();
    EXPECT_EQ(gMouseX, -1);
    EXPECT_EQ(gMouseY, -1);
    EXPECT_EQ(gFrameTick, 0);
    EXPECT_FALSE(gSettingsOpen);
    EXPECT_FALSE(gSplashActive);
    EXPECT_EQ(gSplashTick, 0);
    EXPECT_EQ(gBackgroundPicture, nullptr);
    EXPECT_EQ(gBadgePicture, nullptr);
    for (const HitRect& r : gHitRects) {
        EXPECT_EQ(r.x, 0.0f);
        EXPECT_EQ(r.y, 0.0f);
        EXPECT_EQ(r.width, 0.0f);
        EXPECT_EQ(r.height, 0.0f);
    }
    // Before the first move the pointer is outside every button.
    EXPECT_FALSE(HitRectContains(HitRect{0.0f, 0.0f, 900.0f, 560.0f}, static_cast<float>(gMouseX),
                                 static_cast<float>(gMouseY)));
}

TEST(WindowState, NoPictureIsUsableWhenAbsent) {
    EXPECT_FALSE(IsPictureUsable(nullptr));
}

}  // namespace
