// The splash frame, with and without a usable badge picture.
#include <gtest/gtest.h>

#include <vector>

#include "app/window_state.h"
#include "ui/badge.h"
#include "ui/embers.h"
#include "ui/fonts.h"
#include "ui_support.h"

namespace {

constexpr std::uint32_t kFrameColour = 0xFF2040E0;  // outer 5 % of the test badge
constexpr std::uint32_t kInsideColour = 0xFF30C050;

// 1000 x 1000: a 50-pixel frame around a plain middle, lossless so that colours stay exact.
Picture FramedBadge() {
    std::vector<std::uint32_t> pixels(1000 * 1000);
    for (int y = 0; y < 1000; ++y) {
        for (int x = 0; x < 1000; ++x) {
            const bool frame = x < 50 || y < 50 || x >= 950 || y >= 950;
            pixels[static_cast<size_t>(y) * 1000 + x] = frame ? kFrameColour : kInsideColour;
        }
    }
    return PictureFromBytes(EncodePixels(pixels.data(), 1000, 1000, L"image/png"));
}

class Splash : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetPaintState();
        gSplashActive = true;
    }
    void TearDown() override { ResetPaintState(); }
};

TEST_F(Splash, BadgePictureIsEnlargedToCoverTheWindow) {
    const Picture badge = FramedBadge();
    ASSERT_TRUE(IsPictureUsable(badge.get()));
    gBadgePicture = badge.get();
    for (FrameMode mode : {FrameMode::Plain, FrameMode::Cached}) {
        const Frame f = Compose(540, 540, mode);
        ASSERT_FALSE(f.pixels.empty());
        // Drawn over (-21.6, -21.6, 583.2, 583.2): the 50-pixel frame shrinks to 29.16 pixels of
        // which 21.6 lie outside, so about 7.5 pixels of it show on every side.
        for (int i : {0, 4}) {
            EXPECT_LE(ChannelDistance(f.At(i, 270), kFrameColour), 6)
                << i << " " << Hex(f.At(i, 270));
            EXPECT_LE(ChannelDistance(f.At(270, i), kFrameColour), 6) << i;
            EXPECT_LE(ChannelDistance(f.At(539 - i, 270), kFrameColour), 6) << i;
            EXPECT_LE(ChannelDistance(f.At(270, 539 - i), kFrameColour), 6) << i;
        }
        for (int i : {11, 20}) {
            EXPECT_LE(ChannelDistance(f.At(i, 270), kInsideColour), 6)
                << i << " " << Hex(f.At(i, 270));
            EXPECT_LE(ChannelDistance(f.At(270, i), kInsideColour), 6) << i;
            EXPECT_LE(ChannelDistance(f.At(539 - i, 270), kInsideColour), 6) << i;
        }
        EXPECT_EQ(f.At(0, 0) >> 24, 0xFFu);  // no transparent corner
    }
    const Frame wide = Compose(800, 400, FrameMode::Plain);
    EXPECT_LE(ChannelDistance(wide.At(3, 200), kFrameColour), 6);
    EXPECT_LE(ChannelDistance(wide.At(20, 200), kInsideColour), 6);
}

TEST_F(Splash, ProjectBadgePictureFillsTheWindow) {
    gBadgePicture = BadgePicture().get();
    ASSERT_TRUE(IsPictureUsable(gBadgePicture));
    const Frame f = Compose(540, 540, FrameMode::Plain);
    ASSERT_FALSE(f.pixels.empty());
    SaveFrame(f, "splash_badge");
    for (int i = 0; i < 540; i += 3) {
        ASSERT_EQ(f.At(i, 0) >> 24, 0xFFu) << i;
        ASSERT_EQ(f.At(0, i) >> 24, 0xFFu) << i;
        ASSERT_EQ(f.At(539, i) >> 24, 0xFFu) << i;
        ASSERT_EQ(f.At(i, 539) >> 24, 0xFFu) << i;
    }
}

TEST_F(Splash, WithoutABadgePictureTheShieldIsDrawn) {
    const std::uint32_t veiled = Blend(0xC806040A, 0xFF060A16);
    const ShieldGeometry s = FallbackShieldGeometry(540, 540);
    EXPECT_FLOAT_EQ(s.cx, 270.0f);
    EXPECT_FLOAT_EQ(s.cy, 250.0f);
    EXPECT_NEAR(s.scale, 0.9860292f, 1e-6);
    EXPECT_NEAR(s.cx - s.width / 2.0f, 225.63f, 0.01f);
    EXPECT_NEAR(s.cy + s.height / 2.0f, 304.23f, 0.01f);
    for (FrameMode mode : {FrameMode::Plain, FrameMode::Cached}) {
        const Frame f = Compose(540, 540, mode);
        ASSERT_FALSE(f.pixels.empty());
        if (mode == FrameMode::Plain)
            SaveFrame(f, "splash_fallback");
        EXPECT_LE(ChannelDistance(f.At(5, 5), veiled), 2) << Hex(f.At(5, 5));
        EXPECT_LE(ChannelDistance(f.At(500, 500), veiled), 2);
        // The dome and the kite are filled with the shield's gradient...
        const auto fill = [&](int y) {
            return Mix(0xFF5AC878, 0xFF145A32, (y + 0.5 - 195.77) / 108.46);
        };
        EXPECT_LE(ChannelDistance(f.At(270, 215), fill(215)), 4) << Hex(f.At(270, 215));
        EXPECT_LE(ChannelDistance(f.At(250, 226), fill(226)), 4) << Hex(f.At(250, 226));
        EXPECT_LE(ChannelDistance(f.At(270, 290), fill(290)), 4) << Hex(f.At(270, 290));
        EXPECT_LE(ChannelDistance(f.At(240, 252), fill(252)), 4) << Hex(f.At(240, 252));
        // ...while the side triangles between the crossing joins stay unfilled.
        EXPECT_LE(ChannelDistance(f.At(232, 239), veiled), 2) << Hex(f.At(232, 239));
        EXPECT_LE(ChannelDistance(f.At(308, 239), veiled), 2) << Hex(f.At(308, 239));
        // The crossing itself is drawn by the outline pen.
        EXPECT_LE(ChannelDistance(f.At(270, 239), 0xFFA0FFB4), 40) << Hex(f.At(270, 239));
        // Check mark: the middle of its long stroke.
        EXPECT_LE(ChannelDistance(f.At(280, 249), 0xFFF0FFF0), 30) << Hex(f.At(280, 249));
        if (!UiFontFamilyName().empty()) {
            bool caption = false;
            for (int y = 318; y < 358 && !caption; ++y) {
                for (int x = 100; x < 440; ++x) {
                    if (ChannelDistance(f.At(x, y), 0xFFDCFFDC) <= 12)
                        caption = true;
                }
            }
            EXPECT_TRUE(caption);
        }
    }
}

TEST_F(Splash, StoresNoHitRectAndLeavesTheEmbersAlone) {
    gEmbers = {Ember{100.0f, 200.0f, 1.0f, 2.0f, 50.0f, 100.0f}};
    gFrameTick = 0;
    for (FrameMode mode : {FrameMode::Plain, FrameMode::Cached}) {
        ASSERT_FALSE(Compose(900, 560, mode).pixels.empty());
    }
    for (const HitRect& r : gHitRects) {
        EXPECT_EQ(r.width, 0.0f);
        EXPECT_EQ(r.height, 0.0f);
    }
    ASSERT_EQ(gEmbers.size(), 1u);
    EXPECT_EQ(gEmbers[0].y, 200.0f);
}

}  // namespace
