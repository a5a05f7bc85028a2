// The cached painter against the plain one: the same frames, several states and sizes, every
// channel of every pixel within 2.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

#include "app/window_state.h"
#include "ui/embers.h"
#include "ui/frame_cache.h"
#include "ui_support.h"

namespace {

struct FrameDifference {
    int worst = 0;
    int pixels = 0;  // pixels differing at all
    int firstX = -1;
    int firstY = -1;
};

FrameDifference Compare(const Frame& a, const Frame& b) {
    FrameDifference d;
    for (int y = 0; y < a.height; ++y) {
        for (int x = 0; x < a.width; ++x) {
            const int distance = ChannelDistance(a.At(x, y), b.At(x, y));
            if (distance == 0)
                continue;
            ++d.pixels;
            if (distance > d.worst) {
                d.worst = distance;
                d.firstX = x;
                d.firstY = y;
            }
        }
    }
    return d;
}

bool SameEmbers(const std::vector<Ember>& a, const std::vector<Ember>& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i].x != b[i].x || a[i].y != b[i].y || a[i].life != b[i].life)
            return false;
    }
    return true;
}

// Embers spread over the whole band, as after a few seconds of painting.
void WarmEmbers(int width, int height) {
    std::srand(7);
    for (int i = 0; i < 300; ++i) {
        ++gFrameTick;
        UpdateEmbers(width, height, gFrameTick);
    }
}

// Paints `frames` frames both ways from the same state and random numbers; `step` changes the
// state before each frame (the cache sees every change only through the painted values).
void ExpectSameFrames(const char* name, int width, int height, int frames,
                      const std::function<void(int)>& step) {
    for (int i = 0; i < frames; ++i) {
        step(i);
        ++gFrameTick;
        const std::vector<Ember> before = gEmbers;
        const HitRect hitsBefore[kButtonCount] = {gHitRects[0], gHitRects[1], gHitRects[2],
                                                  gHitRects[3], gHitRects[4], gHitRects[5],
                                                  gHitRects[6], gHitRects[7]};
        std::srand(1000 + i);
        const Frame plain = Compose(width, height, FrameMode::Plain);
        const std::vector<Ember> afterPlain = gEmbers;
        HitRect hitsPlain[kButtonCount];
        for (int b = 0; b < kButtonCount; ++b) {
            hitsPlain[b] = gHitRects[b];
            gHitRects[b] = hitsBefore[b];
        }
        gEmbers = before;
        std::srand(1000 + i);
        const Frame cached = Compose(width, height, FrameMode::Cached);
        ASSERT_EQ(plain.pixels.size(), static_cast<size_t>(width) * height) << name;
        ASSERT_EQ(cached.pixels.size(), plain.pixels.size()) << name;
        ASSERT_TRUE(SameEmbers(afterPlain, gEmbers)) << name << " frame " << i;
        for (int b = 0; b < kButtonCount; ++b) {
            EXPECT_EQ(hitsPlain[b].x, gHitRects[b].x) << name << " button " << b;
            EXPECT_EQ(hitsPlain[b].y, gHitRects[b].y) << name << " button " << b;
            EXPECT_EQ(hitsPlain[b].width, gHitRects[b].width) << name << " button " << b;
            EXPECT_EQ(hitsPlain[b].height, gHitRects[b].height) << name << " button " << b;
        }
        const FrameDifference d = Compare(plain, cached);
        EXPECT_LE(d.worst, 2) << name << " frame " << i << ": " << d.pixels
                              << " pixels differ, worst " << d.worst << " at (" << d.firstX << ", "
                              << d.firstY << ") plain " << Hex(plain.At(d.firstX, d.firstY))
                              << " cached " << Hex(cached.At(d.firstX, d.firstY));
        if (d.worst > 2) {
            SaveFrame(plain, std::string("reuse_") + name + "_plain");
            SaveFrame(cached, std::string("reuse_") + name + "_cached");
            return;
        }
    }
}

class FrameReuse : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetPaintState();
        ReleaseFrameCache();
    }
    void TearDown() override { ResetPaintState(); }
};

TEST_F(FrameReuse, MainViewDuringADownloadWithPointerMoving) {
    gBackgroundPicture = BackgroundPicture().get();
    ScopedStatus status(PatchPhase::Downloading, true, 0.10, 0.0, L"Frissítések keresése...");
    WarmEmbers(900, 560);
    ExpectSameFrames("main_download", 900, 560, 10, [&](int i) {
        // Bar fills across their edge cases, forwards and back.
        const double file[] = {0.0, 0.001, 0.004, 0.05, 0.5, 0.5, 1.0, 1.02, 0.3, 0.0};
        status.status().fileProgress.store(file[i]);
        status.status().overallProgress.store(0.1 + 0.02 * i);
        if (i == 4)
            SetStatusText(status.status(), L"Letöltés (2/7): pack\\world.pak");
        // Over a link button, on its edges, then away.
        const int xs[] = {70, 188, 308, 316, 500, 700, 700, 60, -1, 120};
        gMouseX = xs[i];
        gMouseY = i == 6 ? 440 : 490;
    });
}

TEST_F(FrameReuse, MainViewReadyWithoutPictureAndPlayHovered) {
    ScopedStatus status(PatchPhase::Updated, false, 1.0, 0.3,
                        L"Frissítés kész. Indíthatod a játékot!");
    WarmEmbers(900, 560);
    ExpectSameFrames("main_ready", 900, 560, 6, [&](int i) {
        gMouseX = 660 + i * 30;
        gMouseY = 380;
        if (i == 3)
            status.status().phase.store(PatchPhase::Failed);
    });
}

TEST_F(FrameReuse, SettingsViewBusyAndIdle) {
    gBackgroundPicture = BackgroundPicture().get();
    gSettingsOpen = true;
    ScopedStatus status(PatchPhase::Checking, true, 0.0, 0.0, L"Frissítések keresése...");
    WarmEmbers(900, 560);
    ExpectSameFrames("settings", 900, 560, 8, [&](int i) {
        status.status().busy.store(i >= 4);
        gMouseX = 100 + 40 * i;
        gMouseY = i % 2 ? 340 : 240;
    });
}

TEST_F(FrameReuse, PageSwitchesAndOtherSizes) {
    gBackgroundPicture = BackgroundPicture().get();
    ScopedStatus status(PatchPhase::Downloading, true, 0.5, 0.75, L"Letöltés (1/3): a.pak");
    WarmEmbers(1100, 700);
    ExpectSameFrames("sizes", 1100, 700, 6, [&](int i) {
        gSettingsOpen = i % 2 == 1;
        gMouseX = 880;
        gMouseY = 520;
    });
    ExpectSameFrames("small", 760, 480, 3, [&](int i) { gSettingsOpen = i == 1; });
}

TEST_F(FrameReuse, SplashWithAndWithoutBadge) {
    gSplashActive = true;
    ExpectSameFrames("splash_fallback", 540, 540, 2, [](int) {});
    gBadgePicture = BadgePicture().get();
    ExpectSameFrames("splash_badge", 540, 540, 2, [](int) {});
    ExpectSameFrames("splash_badge_wide", 640, 540, 2, [](int) {});
}

}  // namespace
