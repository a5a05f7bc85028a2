// Whole frames of both pages: layout probes at the places the layout fixes, the stored HitRects,
// the presented copy, the font, and each look saved as a PNG.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/window_state.h"
#include "ui/embers.h"
#include "ui/buttons.h"
#include "ui/fonts.h"
#include "ui/frame_cache.h"
#include "ui/frame_parts.h"
#include "portable/unique_handle.h"
#include "app/window_proc.h"
#include "ui/paint.h"
#include "ui_support.h"

namespace {

// The gradient background at a row (no picture).
std::uint32_t Ground(int y, int height = 560) {
    return Mix(0xFF1C101E, 0xFF0A080E, (y + 0.5) / height);
}

void ExpectRect(Button b, float x, float y, float w, float h) {
    const HitRect& r = ButtonHitRect(b);
    EXPECT_EQ(r.x, x) << static_cast<int>(b);
    EXPECT_EQ(r.y, y) << static_cast<int>(b);
    EXPECT_EQ(r.width, w) << static_cast<int>(b);
    EXPECT_EQ(r.height, h) << static_cast<int>(b);
}

class Paint : public ::testing::TestWithParam<FrameMode> {
  protected:
    void SetUp() override {
        ResetPaintState();
        ReleaseFrameCache();
        gFrameTick = 1;  // no ember is born unless a test wants one
    }
    void TearDown() override { ResetPaintState(); }
    Frame Draw(int width = 900, int height = 560) { return Compose(width, height, GetParam()); }
    std::string Name(const std::string& look) const {
        return look + (GetParam() == FrameMode::Plain ? "" : "_cached");
    }
};

TEST_P(Paint, MainViewPanelHeaderAndFooter) {
    ScopedStatus status(PatchPhase::Downloading, true, 0.5, 0.25, L"Letöltés (1/2): a.pak");
    const Frame f = Draw();
    ASSERT_FALSE(f.pixels.empty());
    SaveFrame(f, Name("main_download_gradient"));

    // Panel (24, 346, 852, 194): gradient fill over the background, 1 px outline.
    const auto panel = [](int y) {
        return Blend(Mix(0x960C0810, 0xB906040A, (y + 0.5 - 346.0) / 194.0), Ground(y));
    };
    EXPECT_LE(ChannelDistance(f.At(450, 450), panel(450)), 3) << Hex(f.At(450, 450));
    EXPECT_LE(ChannelDistance(f.At(30, 530), panel(530)), 3) << Hex(f.At(30, 530));
    EXPECT_LE(ChannelDistance(f.At(10, 450), Ground(450)), 2) << Hex(f.At(10, 450));
    EXPECT_LE(ChannelDistance(f.At(450, 340), Ground(340)), 2);
    EXPECT_LE(ChannelDistance(f.At(450, 543), Ground(543)), 2) << Hex(f.At(450, 543));
    // The outline is the brightest row and column around the panel's edges.
    const auto outlineOn = [&](int x, int y, int insideX, int insideY) {
        return ChannelDistance(f.At(x, y), Blend(0x5AFFBE6E, f.At(insideX, insideY))) <= 3;
    };
    EXPECT_TRUE(outlineOn(450, 346, 450, 348) || outlineOn(450, 345, 450, 348))
        << Hex(f.At(450, 345)) << " " << Hex(f.At(450, 346));
    EXPECT_TRUE(outlineOn(24, 450, 26, 450) || outlineOn(23, 450, 26, 450))
        << Hex(f.At(23, 450)) << " " << Hex(f.At(24, 450));
    EXPECT_TRUE(outlineOn(875, 450, 873, 450) || outlineOn(876, 450, 873, 450));
    EXPECT_TRUE(outlineOn(450, 539, 450, 537) || outlineOn(450, 540, 450, 537))
        << Hex(f.At(450, 539)) << " " << Hex(f.At(450, 540));

    // Header rule at y 118: glowing in the middle, faded out at both ends.
    const std::uint32_t peak = Blend(0xDCFFC878, Ground(118));
    const int peakDistance =
        std::min(ChannelDistance(f.At(450, 117), peak), ChannelDistance(f.At(450, 118), peak));
    EXPECT_LE(peakDistance, 4) << Hex(f.At(450, 117)) << " " << Hex(f.At(450, 118));
    for (int x : {0, 2, 897, 899}) {
        for (int y = 116; y <= 120; ++y) {
            EXPECT_LE(ChannelDistance(f.At(x, y), Ground(y)), 4) << x << "," << y;
        }
    }
    // Header band: darker than the background near the top, nothing left at its bottom.
    EXPECT_LT(f.At(3, 5) & 0xFF, (Ground(5) & 0xFF) - 8);
    EXPECT_LE(ChannelDistance(f.At(3, 114), Ground(114)), 2);

    if (!UiFontFamilyName().empty()) {
        // Footer: "Pellorin" ends at W - 12.
        bool footer = false;
        for (int y = 538; y < 560; ++y) {
            for (int x = 888; x < 900; ++x) {
                EXPECT_LE(ChannelDistance(f.At(x, y), Ground(y)), 1) << x << "," << y;
            }
            for (int x = 820; x < 888; ++x) {
                if (ChannelDistance(f.At(x, y), Ground(y)) > 20)
                    footer = true;
            }
        }
        EXPECT_TRUE(footer);
    }
}

TEST_P(Paint, MainViewButtonsFollowTheRunAndThePointer) {
    // Play's body, below its sheen and left of its label.
    const auto playBody = [](const Frame& f) { return f.At(668, 400); };
    const auto body = [](bool primary, bool enabled, bool hovered) {
        const ButtonLook look = PickButtonLook(primary, enabled, hovered);
        return Mix(look.bodyTop, look.bodyBottom, (400.5 - 370.0) / 56.0);
    };
    {
        ScopedStatus status(PatchPhase::Downloading, true, 0.1, 0.2, L"x");
        gMouseX = 700;
        gMouseY = 400;  // over Play, which is disabled during a run
        const Frame f = Draw();
        SaveFrame(f, Name("main_play_disabled"));
        EXPECT_LE(ChannelDistance(playBody(f), body(true, false, false)), 4) << Hex(playBody(f));
        // No glow around a disabled button.
        EXPECT_LE(ChannelDistance(f.At(750, 367), Ground(367)), 8);
    }
    for (PatchPhase phase : {PatchPhase::UpToDate, PatchPhase::Updated}) {
        ScopedStatus status(phase, false, 1.0, 0.3, L"A játék naprakész. Indíthatod!");
        gMouseX = -1;
        gMouseY = -1;
        const Frame normal = Draw();
        EXPECT_LE(ChannelDistance(playBody(normal), body(true, true, false)), 4);
        gMouseX = 660;  // Play's left edge hovers it
        gMouseY = 370;
        const Frame hovered = Draw();
        SaveFrame(hovered, Name("main_ready_play_hovered"));
        EXPECT_LE(ChannelDistance(playBody(hovered), body(true, true, true)), 4);
        EXPECT_GT(ChannelDistance(hovered.At(750, 367), Ground(367)),
                  ChannelDistance(normal.At(750, 367), Ground(367)));
        gMouseX = 840;  // x + width does not
        const Frame outside = Draw();
        EXPECT_LE(ChannelDistance(playBody(outside), body(true, true, false)), 4);
    }
    {
        ScopedStatus status(PatchPhase::Failed, false, 0.3, 0.4, L"Hiba");
        gMouseX = 188;  // Discord's left edge
        gMouseY = 488;
        const Frame f = Draw();
        const auto link = [&](int x) { return f.At(x + 6, 514); };
        const auto secondary = [](bool hovered) {
            const ButtonLook look = PickButtonLook(false, true, hovered);
            return Mix(look.bodyTop, look.bodyBottom, (514.5 - 488.0) / 34.0);
        };
        EXPECT_LE(ChannelDistance(link(188), secondary(true)), 4) << Hex(link(188));
        EXPECT_LE(ChannelDistance(link(60), secondary(false)), 4) << Hex(link(60));
        EXPECT_LE(ChannelDistance(link(316), secondary(false)), 4);
        EXPECT_LE(ChannelDistance(playBody(f), body(true, false, false)), 4);
    }
}

TEST_P(Paint, FileBarIsFullOnceTheRunEndedWell) {
    const auto fillAt = [](int y) { return Mix(0xFFFCC846, 0xFFD66018, (y + 0.5 - 454.0) / 20.0); };
    {
        ScopedStatus status(PatchPhase::Updated, false, 1.0, 0.25, L"Frissítés kész.");
        const Frame f = Draw();
        EXPECT_LE(ChannelDistance(f.At(620, 468), fillAt(468)), 3) << Hex(f.At(620, 468));
    }
    {
        ScopedStatus status(PatchPhase::Downloading, true, 0.5, 0.25, L"Letöltés");
        const Frame f = Draw();
        EXPECT_LE(ChannelDistance(f.At(150, 468), fillAt(468)), 3);
        EXPECT_GT(ChannelDistance(f.At(620, 468), fillAt(468)), 40);
    }
}

TEST_P(Paint, WithoutStatusRecordBarsAreEmptyAndButtonsDisabled) {
    const Frame f = Draw();
    const ButtonLook disabled = PickButtonLook(true, false, false);
    EXPECT_LE(
        ChannelDistance(f.At(668, 400), Mix(disabled.bodyTop, disabled.bodyBottom, 30.5 / 56.0)),
        4);
    // Empty tracks.
    const auto track = [&](int x, int y) {
        return ChannelDistance(f.At(x, y), Blend(0xD2121018, f.At(x, y - 30))) <= 40 &&
               (f.At(x, y) & 0xFF) < 0x30;
    };
    EXPECT_TRUE(track(70, 418));
    EXPECT_TRUE(track(70, 464));
    gSettingsOpen = true;
    const Frame settings = Draw();
    const ButtonLook off = PickButtonLook(false, false, false);
    EXPECT_LE(ChannelDistance(settings.At(66, 365), Mix(off.bodyTop, off.bodyBottom, 35.5 / 46.0)),
              4);
}

TEST_P(Paint, SettingsViewPanelAndFullCheckFollowsBusy) {
    gSettingsOpen = true;
    const auto fullCheckBody = [](const Frame& f) { return f.At(66, 365); };
    const auto secondary = [](bool enabled, bool hovered) {
        const ButtonLook look = PickButtonLook(false, enabled, hovered);
        return Mix(look.bodyTop, look.bodyBottom, (365.5 - 330.0) / 46.0);
    };
    {
        ScopedStatus status(PatchPhase::Checking, true, 0.0, 0.0, L"x");
        gMouseX = 100;
        gMouseY = 340;
        const Frame f = Draw();
        SaveFrame(f, Name("settings_busy"));
        EXPECT_LE(ChannelDistance(fullCheckBody(f), secondary(false, false)), 4);
        // Panel (24, 134, 852, 402).
        const std::uint32_t panel =
            Blend(Mix(0xA00C0810, 0xBE06040A, (300.5 - 134.0) / (536.0 - 134.0)), Ground(300));
        EXPECT_LE(ChannelDistance(f.At(600, 300), panel), 3) << Hex(f.At(600, 300));
        EXPECT_LE(ChannelDistance(f.At(10, 300), Ground(300)), 2);
        EXPECT_LE(ChannelDistance(f.At(600, 545), Ground(545)), 2);
        // GameConfigButton is primary and never disabled: its glow is there.
        EXPECT_GT(ChannelDistance(
                      f.At(210, 223),
                      Blend(Mix(0xA00C0810, 0xBE06040A, (223.5 - 134.0) / 402.0), Ground(223))),
                  2);
    }
    {
        ScopedStatus status(PatchPhase::UpToDate, false, 1.0, 1.0, L"x");
        gMouseX = 60;
        gMouseY = 330;  // the top-left corner of FullCheckButton
        const Frame f = Draw();
        SaveFrame(f, Name("settings_idle_hovered"));
        EXPECT_LE(ChannelDistance(fullCheckBody(f), secondary(true, true)), 4)
            << Hex(fullCheckBody(f));
        gMouseY = 376;  // y + height
        const Frame g = Draw();
        EXPECT_LE(ChannelDistance(fullCheckBody(g), secondary(true, false)), 4);
    }
}

TEST_P(Paint, HitRectsOfBothPagesAtTwoSizes) {
    ScopedStatus status(PatchPhase::Updated, false, 1.0, 1.0, L"x");
    ASSERT_FALSE(Draw().pixels.empty());
    ExpectRect(Button::PlayButton, 660, 370, 180, 56);
    ExpectRect(Button::SettingsButton, 660, 438, 180, 34);
    ExpectRect(Button::WebsiteButton, 60, 488, 120, 34);
    ExpectRect(Button::DiscordButton, 188, 488, 120, 34);
    ExpectRect(Button::FacebookButton, 316, 488, 120, 34);
    // SettingsView has not been painted yet: nothing on it can be hit.
    for (Button b : {Button::GameConfigButton, Button::FullCheckButton, Button::BackButton}) {
        ExpectRect(b, 0, 0, 0, 0);
    }
    gSettingsOpen = true;
    ASSERT_FALSE(Draw().pixels.empty());
    ExpectRect(Button::GameConfigButton, 60, 226, 300, 50);
    ExpectRect(Button::FullCheckButton, 60, 330, 300, 46);
    ExpectRect(Button::BackButton, 60, 500, 160, 38);
    // MainView's rectangles keep their values while the other page is shown.
    ExpectRect(Button::PlayButton, 660, 370, 180, 56);

    ASSERT_FALSE(Draw(1000, 700).pixels.empty());
    ExpectRect(Button::GameConfigButton, 60, 226, 300, 50);
    ExpectRect(Button::BackButton, 60, 640, 160, 38);
    ExpectRect(Button::PlayButton, 660, 370, 180, 56);
    gSettingsOpen = false;
    ASSERT_FALSE(Draw(1000, 700).pixels.empty());
    ExpectRect(Button::PlayButton, 760, 510, 180, 56);
    ExpectRect(Button::SettingsButton, 760, 578, 180, 34);
    ExpectRect(Button::WebsiteButton, 60, 628, 120, 34);
    ExpectRect(Button::DiscordButton, 188, 628, 120, 34);
    ExpectRect(Button::FacebookButton, 316, 628, 120, 34);
    ExpectRect(Button::BackButton, 60, 640, 160, 38);
}

TEST_P(Paint, OtherSizeFollowsTheEdges) {
    ScopedStatus status(PatchPhase::Downloading, true, 0.5, 0.5, L"Letöltés (3/9): b.pak");
    const Frame f = Draw(1000, 700);
    ASSERT_FALSE(f.pixels.empty());
    SaveFrame(f, Name("main_1000x700"));
    // Panel (24, 486, 952, 194) and bars of width 676 at y 548 and 594.
    const auto panel = [](int y) {
        return Blend(Mix(0x960C0810, 0xB906040A, (y + 0.5 - 486.0) / 194.0), Ground(y, 700));
    };
    EXPECT_LE(ChannelDistance(f.At(960, 600), panel(600)), 3) << Hex(f.At(960, 600));
    EXPECT_LE(ChannelDistance(f.At(450, 470), Ground(470, 700)), 2);
    const std::uint32_t fill = Mix(0xFFFCC846, 0xFFD66018, (562.5 - 548.0) / 20.0);
    EXPECT_LE(ChannelDistance(f.At(300, 562), fill), 3) << Hex(f.At(300, 562));
    const std::uint32_t peak = Blend(0xDCFFC878, Ground(118, 700));
    EXPECT_LE(
        std::min(ChannelDistance(f.At(500, 117), peak), ChannelDistance(f.At(500, 118), peak)), 4);
}

TEST_P(Paint, EmptyClientAreaDrawsNothing) {
    gFrameTick = 0;
    EXPECT_TRUE(Draw(0, 560).pixels.empty());
    EXPECT_TRUE(Draw(900, 0).pixels.empty());
    EXPECT_TRUE(gEmbers.empty());
    HDC dc = ::CreateCompatibleDC(nullptr);
    SetFrameMode(GetParam());
    PaintWindow(dc, 0, 560);
    ::DeleteDC(dc);
    EXPECT_TRUE(gEmbers.empty());
}

// What PaintWindow copies into a device context is the composed frame.
TEST_P(Paint, PresentsTheFrameToTheDeviceContext) {
    gBackgroundPicture = BackgroundPicture().get();
    ScopedStatus status(PatchPhase::Downloading, true, 0.3, 0.6, L"Letöltés");
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = 900;
    info.bmiHeader.biHeight = -560;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP dib = ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(dib, nullptr);
    HDC dc = ::CreateCompatibleDC(nullptr);
    HGDIOBJ old = ::SelectObject(dc, dib);

    gEmbers.clear();
    std::srand(5);
    SetFrameMode(GetParam());
    PaintWindow(dc, 900, 560);
    ::GdiFlush();
    gEmbers.clear();
    std::srand(5);
    const Frame expected = Draw();
    ASSERT_FALSE(expected.pixels.empty());
    const auto* presented = static_cast<const std::uint32_t*>(bits);
    int worst = 0;
    for (int i = 0; i < 900 * 560; ++i) {
        worst =
            std::max(worst, ChannelDistance(presented[i] | 0xFF000000u,
                                            expected.pixels[static_cast<size_t>(i)] | 0xFF000000u));
    }
    EXPECT_LE(worst, 2);
    ::SelectObject(dc, old);
    ::DeleteDC(dc);
    ::DeleteObject(dib);
}

TEST_P(Paint, BackgroundPictureIsStretchedOverTheWindow) {
    gBackgroundPicture = BackgroundPicture().get();
    ASSERT_TRUE(IsPictureUsable(gBackgroundPicture));
    ScopedStatus status(PatchPhase::Downloading, true, 0.45, 0.8, L"Letöltés (4/9): c.pak");
    gMouseX = 200;
    gMouseY = 500;
    const Frame f = Draw();
    SaveFrame(f, Name("main_download_picture"));
    // Opaque everywhere, and not the gradient.
    int gradientLike = 0;
    for (int y = 0; y < 560; y += 7) {
        for (int x = 0; x < 900; x += 7) {
            ASSERT_EQ(f.At(x, y) >> 24, 0xFFu) << x << "," << y;
            if (ChannelDistance(f.At(x, y), Ground(y)) <= 2)
                ++gradientLike;
        }
    }
    EXPECT_LT(gradientLike, 200);
}

INSTANTIATE_TEST_SUITE_P(BothWays, Paint, ::testing::Values(FrameMode::Plain, FrameMode::Cached),
                         [](const ::testing::TestParamInfo<FrameMode>& param) {
                             return param.param == FrameMode::Plain ? std::string("Plain")
                                                                    : std::string("Cached");
                         });

// Text needs a family that exists on the system; without one, frames are still painted.
TEST(PaintText, FamilyIsChosenOnceFromTheListAndTextCanBeMissing) {
    ResetPaintState();
    const std::wstring chosen = UiFontFamilyName();
    const std::wstring candidates[] = {L"Segoe UI", L"Tahoma", L"Arial", L"DejaVu Sans"};
    ASSERT_FALSE(chosen.empty()) << "none of the four families exists here";
    EXPECT_NE(std::find(std::begin(candidates), std::end(candidates), chosen),
              std::end(candidates));
    EXPECT_EQ(ChooseFontFamily({L"Segoe UI", L"Tahoma", L"Arial", L"DejaVu Sans"}), chosen);
    std::printf("font family: %ls\n", chosen.c_str());
    ::testing::Test::RecordProperty("font_family", std::string(chosen.begin(), chosen.end()));
    EXPECT_EQ(ChooseFontFamily({L"No Such Family 1", L"No Such Family 2"}), L"");

    // Row 40 crosses the title: with text it varies along x, without it the gradient
    // background and header band leave it uniform.
    const auto uniform = [](const Frame& f, int y, int from = 0, int to = 900) {
        for (int x = from + 1; x < to; ++x) {
            if (f.At(x, y) != f.At(from, y))
                return false;
        }
        return true;
    };
    ScopedStatus status(PatchPhase::Checking, true, 0.0, 0.0, L"Frissítések keresése...");
    for (FrameMode mode : {FrameMode::Plain, FrameMode::Cached}) {
        gFrameTick = 1;
        const Frame with = Compose(900, 560, mode);
        EXPECT_FALSE(uniform(with, 40));
        SetUiFontFamilyName(L"");
        const Frame without = Compose(900, 560, mode);
        SetUiFontFamilyName(chosen);
        ASSERT_FALSE(without.pixels.empty());
        EXPECT_TRUE(uniform(without, 40));
        EXPECT_FALSE(uniform(with, 367, 30, 640));
        EXPECT_TRUE(uniform(without, 367, 30, 640));  // the status line, inside the panel
        SaveFrame(without,
                  mode == FrameMode::Plain ? "main_without_font" : "main_without_font_cached");
    }
    ResetPaintState();
}

}  // namespace
