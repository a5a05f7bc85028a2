// Buttons and progress bars drawn alone on a plain background, probed where their parts must be.
#include <gtest/gtest.h>

#include <string>

#include "app/window_state.h"
#include "ui/buttons.h"
#include "ui/fonts.h"
#include "ui/progress_bar.h"
#include "ui_support.h"

namespace {

constexpr std::uint32_t kGround = 0xFF202020;
constexpr int kCanvasW = 300;
constexpr int kCanvasH = 120;
const HitRect kButton{60.0f, 30.0f, 180.0f, 56.0f};

Frame DrawOneButton(bool enabled, bool primary, const wchar_t* label = L"JÁTÉK",
                    const HitRect& rect = kButton) {
    return DrawOnBitmap(kCanvasW, kCanvasH, kGround, [&](Gdiplus::GpGraphics* g) {
        DrawButton(g, rect, label, enabled, primary,
                   IsButtonHovered(rect, enabled, gMouseX, gMouseY));
    });
}

// Below the sheen, left of the label: the body gradient alone.
std::uint32_t BodyProbe(const Frame& f) {
    return f.At(66, 70);
}
std::uint32_t ExpectedBody(const ButtonLook& look) {
    return Mix(look.bodyTop, look.bodyBottom, (70.0 + 0.5 - 30.0) / 56.0);
}
// Two pixels above the body, in the middle: only the glow can change it.
std::uint32_t GlowProbe(const Frame& f) {
    return f.At(150, 27);
}

// Rows that hold pixels close to the colour inside the button (the label's height).
int LabelRows(const Frame& f, std::uint32_t colour) {
    int rows = 0;
    for (int y = 32; y < 84; ++y) {
        for (int x = 70; x < 230; ++x) {
            if (ChannelDistance(f.At(x, y), colour) <= 24) {
                ++rows;
                break;
            }
        }
    }
    return rows;
}

bool HasColourNear(const Frame& f, std::uint32_t colour, int tolerance, int x0, int y0, int x1,
                   int y1) {
    for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
            if (ChannelDistance(f.At(x, y), colour) <= tolerance)
                return true;
        }
    }
    return false;
}

class Buttons : public ::testing::Test {
  protected:
    void SetUp() override { ResetPaintState(); }
    void TearDown() override { ResetPaintState(); }
    void PointAt(int x, int y) {
        gMouseX = x;
        gMouseY = y;
    }
};

TEST_F(Buttons, EachLookHasItsBodyBorderGlowAndLabel) {
    struct Case {
        const char* name;
        bool primary;
        bool enabled;
        bool pointerInside;
        bool glows;
    };
    const Case cases[] = {
        {"primary_normal", true, true, false, true},
        {"primary_hovered", true, true, true, true},
        {"primary_disabled", true, false, true, false},
        {"secondary_normal", false, true, false, false},
        {"secondary_hovered", false, true, true, true},
        {"secondary_disabled", false, false, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.pointerInside) {
            PointAt(150, 50);
        } else {
            PointAt(-1, -1);
        }
        const Frame f = DrawOneButton(c.enabled, c.primary);
        ASSERT_FALSE(f.pixels.empty());
        SaveFrame(f, std::string("button_") + c.name);
        const ButtonLook look = PickButtonLook(c.primary, c.enabled, c.pointerInside && c.enabled);
        EXPECT_LE(ChannelDistance(BodyProbe(f), ExpectedBody(look)), 4)
            << Hex(BodyProbe(f)) << " expected " << Hex(ExpectedBody(look));
        // The border is opaque, so some pixel of the top edge shows it unmixed.
        EXPECT_TRUE(HasColourNear(f, look.border, 3, 150, 29, 151, 32)) << Hex(f.At(150, 30));
        if (c.glows) {
            EXPECT_GE(ChannelDistance(GlowProbe(f), kGround), 3) << Hex(GlowProbe(f));
        } else {
            EXPECT_EQ(GlowProbe(f), kGround) << Hex(GlowProbe(f));
        }
        if (!UiFontFamilyName().empty()) {
            EXPECT_TRUE(HasColourNear(f, look.label, 12, 70, 35, 230, 80));
        }
    }
}

TEST_F(Buttons, HoverFollowsTheHalfOpenRectangle) {
    const ButtonLook hovered = PickButtonLook(false, true, true);
    const ButtonLook normal = PickButtonLook(false, true, false);
    struct Case {
        int x;
        int y;
        bool hovers;
    };
    // kButton spans x 60..240 and y 30..86.
    const Case cases[] = {{60, 30, true},   {60, 85, true},  {239, 30, true},  {240, 50, false},
                          {150, 86, false}, {59, 50, false}, {150, 29, false}, {-1, -1, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.x) + "," + std::to_string(c.y));
        PointAt(c.x, c.y);
        EXPECT_EQ(IsButtonHovered(kButton, true, gMouseX, gMouseY), c.hovers);
        const Frame f = DrawOneButton(true, false, L"Vissza");
        const std::uint32_t expected = ExpectedBody(c.hovers ? hovered : normal);
        EXPECT_LE(ChannelDistance(BodyProbe(f), expected), 4) << Hex(BodyProbe(f));
    }
}

TEST_F(Buttons, DisabledKeepsItsStylesSheenAndLabelSize) {
    PointAt(150, 50);
    EXPECT_FALSE(IsButtonHovered(kButton, false, gMouseX, gMouseY));
    const Frame primary = DrawOneButton(false, true, L"Frissítés...");
    const Frame secondary = DrawOneButton(false, false, L"Frissítés...");
    // Same grey body, brighter sheen on the primary style.
    EXPECT_EQ(BodyProbe(primary), BodyProbe(secondary));
    const std::uint32_t primarySheen = primary.At(66, 33);
    const std::uint32_t secondarySheen = secondary.At(66, 33);
    EXPECT_GT((primarySheen >> 8) & 0xFF, ((secondarySheen >> 8) & 0xFF) + 10)
        << Hex(primarySheen) << " " << Hex(secondarySheen);
    if (UiFontFamilyName().empty())
        GTEST_SKIP() << "no font family on this system";
    // Same grey label, 18 px against 13.5 px.
    const std::uint32_t grey = PickButtonLook(true, false, false).label;
    EXPECT_GT(LabelRows(primary, grey), LabelRows(secondary, grey) + 2);
}

// Bars on a plain background: track (60, 25, 576, 20).
std::uint32_t TrackColour() {
    return Blend(0xD2121018, kGround);
}
std::uint32_t FillColour(int y) {
    return Mix(0xFFFCC846, 0xFFD66018, (y + 0.5 - 25.0) / 20.0);
}

Frame DrawBar(double fraction) {
    return DrawOnBitmap(700, 60, kGround, [&](Gdiplus::GpGraphics* g) {
        DrawProgressBar(g, 60.0f, 25.0f, 576.0f, 20.0f, fraction, L"Aktuális fájl");
    });
}

TEST(ProgressBar, PercentagesRoundHalfUpAndAreNotClamped) {
    EXPECT_EQ(PercentText(0.0), L"0%");
    EXPECT_EQ(PercentText(0.001), L"0%");
    EXPECT_EQ(PercentText(0.004), L"0%");
    EXPECT_EQ(PercentText(0.005), L"1%");
    EXPECT_EQ(PercentText(0.42), L"42%");
    EXPECT_EQ(PercentText(0.994), L"99%");
    EXPECT_EQ(PercentText(0.995), L"100%");
    EXPECT_EQ(PercentText(1.0), L"100%");
    EXPECT_EQ(PercentText(1.005), L"100%");
    EXPECT_EQ(PercentText(1.02), L"102%");
    EXPECT_EQ(PercentText(-0.5), L"-49%");
    EXPECT_EQ(PercentText(1e12), L"2147483647%");
}

TEST(ProgressBar, FillShowsOnlyAboveOneThousandth) {
    EXPECT_FALSE(ProgressShowsFill(0.0));
    EXPECT_FALSE(ProgressShowsFill(0.001));
    EXPECT_TRUE(ProgressShowsFill(0.0011));
    EXPECT_FLOAT_EQ(ProgressFillWidth(576.0f, 0.004), 2.304f);
}

TEST(ProgressBar, FillsAtTheEdgeCases) {
    ResetPaintState();
    for (double fraction : {0.0, 0.001}) {
        SCOPED_TRACE(fraction);
        const Frame f = DrawBar(fraction);
        EXPECT_LE(ChannelDistance(f.At(64, 40), TrackColour()), 2) << Hex(f.At(64, 40));
        EXPECT_LE(ChannelDistance(f.At(200, 40), TrackColour()), 2);
    }
    {
        // 2.3 px: a sliver in the middle rows, cut away near the top by the rounded end.
        const Frame f = DrawBar(0.004);
        SaveFrame(f, "bar_0.004");
        EXPECT_LE(ChannelDistance(f.At(61, 35), FillColour(35)), 3) << Hex(f.At(61, 35));
        EXPECT_LE(ChannelDistance(f.At(64, 35), TrackColour()), 2) << Hex(f.At(64, 35));
        EXPECT_EQ(f.At(61, 27), kGround) << Hex(f.At(61, 27));
        EXPECT_EQ(f.At(62, 28), kGround) << Hex(f.At(62, 28));
    }
    {
        const Frame f = DrawBar(0.5);
        SaveFrame(f, "bar_0.5");
        EXPECT_LE(ChannelDistance(f.At(200, 40), FillColour(40)), 3) << Hex(f.At(200, 40));
        EXPECT_LE(ChannelDistance(f.At(345, 42), FillColour(42)), 3);
        EXPECT_LE(ChannelDistance(f.At(351, 42), TrackColour()), 3);
        EXPECT_LE(ChannelDistance(f.At(500, 40), TrackColour()), 2);
        // The sheen brightens the upper half only.
        EXPECT_GT(f.At(200, 27) & 0xFF, FillColour(27) & 0xFF);
    }
    for (double fraction : {1.0, 1.02}) {
        SCOPED_TRACE(fraction);
        const Frame f = DrawBar(fraction);
        SaveFrame(f, fraction == 1.0 ? "bar_1.0" : "bar_1.02");
        EXPECT_LE(ChannelDistance(f.At(630, 35), FillColour(35)), 3) << Hex(f.At(630, 35));
        EXPECT_LE(ChannelDistance(f.At(62, 35), FillColour(35)), 3);
        // The track's rounded right end cuts what lies past it.
        EXPECT_EQ(f.At(640, 35), kGround);
        EXPECT_EQ(f.At(634, 26), kGround);
    }
}

TEST(ProgressBar, CaptionSitsAboveTheTrack) {
    ResetPaintState();
    if (UiFontFamilyName().empty())
        GTEST_SKIP() << "no font family on this system";
    const Frame f = DrawBar(0.5);
    bool above = false;
    for (int y = 6; y < 23 && !above; ++y) {
        for (int x = 60; x < 160; ++x) {
            if (ChannelDistance(f.At(x, y), kGround) > 40)
                above = true;
        }
    }
    EXPECT_TRUE(above);
    for (int x = 0; x < 58; ++x)
        EXPECT_EQ(f.At(x, 10), kGround);
}

}  // namespace
