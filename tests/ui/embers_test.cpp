#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "app/window_state.h"
#include "ui/embers.h"
#include "ui_support.h"

namespace {

class Embers : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetPaintState();
        std::srand(3);
    }
    void TearDown() override { ResetPaintState(); }
};

TEST_F(Embers, SpawnEveryThirdTickUpToSixty) {
    size_t most = 0;
    int spawnTicks = 0;
    for (int tick = 0; tick < 3000; ++tick) {
        gFrameTick = tick;
        const size_t before = gEmbers.size();
        UpdateEmbers(900, 560);
        const size_t after = gEmbers.size();
        most = std::max(most, after);
        if (tick % 3 != 0) {
            EXPECT_LE(after, before) << "tick " << tick;  // only drops
        } else if (before < 60 && after > before) {
            EXPECT_EQ(after, before + 1) << "tick " << tick;
            ++spawnTicks;
        }
        ASSERT_LE(gEmbers.size(), 60u);
    }
    // The list fills up and then stays at its limit, with one birth per drop.
    EXPECT_EQ(most, 60u);
    EXPECT_GT(spawnTicks, 60);
    // Life never exceeds 239 steps, and a spawn comes every third tick: the first 60 ticks
    // give 20 embers, none of which has died yet.
    gEmbers.clear();
    for (int tick = 0; tick < 60; ++tick) {
        gFrameTick = tick;
        UpdateEmbers(900, 560);
    }
    EXPECT_EQ(gEmbers.size(), 20u);
}

TEST_F(Embers, NothingSpawnsAtTheLimit) {
    gEmbers.assign(60, Ember{10.0f, 300.0f, 1.0f, 2.0f, 100.0f, 200.0f});
    gFrameTick = 30;
    UpdateEmbers(900, 560);
    EXPECT_EQ(gEmbers.size(), 60u);
}

TEST_F(Embers, ANewEmberIsMovedOnceAndStartsJustUnderFullAlpha) {
    for (int i = 0; i < 500; ++i) {
        gEmbers.clear();
        gFrameTick = 3 * i;
        UpdateEmbers(900, 560);
        ASSERT_EQ(gEmbers.size(), 1u);
        const Ember e = gEmbers[0];
        EXPECT_GE(e.riseSpeed, 0.6f);
        EXPECT_LE(e.riseSpeed, 2.25f + 1e-5f);
        EXPECT_FLOAT_EQ(e.y, 570.0f - e.riseSpeed);
        EXPECT_GE(e.size, 1.5f);
        EXPECT_LE(e.size, 3.975f + 1e-5f);
        EXPECT_GE(e.initialLife, 120.0f);
        EXPECT_LE(e.initialLife, 239.0f);
        EXPECT_EQ(e.initialLife, std::floor(e.initialLife));
        EXPECT_EQ(e.life, e.initialLife - 1.0f);
        // Born at a whole x from 0 to W - 1, then drifted by at most 0.4.
        EXPECT_GE(e.x, -0.4f);
        EXPECT_LE(e.x, 899.4f);
        const Gdiplus::ARGB colour = NextEmberColour(e);
        EXPECT_LT(colour >> 24, 150u);
        EXPECT_GE(colour >> 24, 148u);
        EXPECT_EQ((colour >> 16) & 0xFF, 0xFFu);
        EXPECT_GE((colour >> 8) & 0xFF, 160u);
        EXPECT_LE((colour >> 8) & 0xFF, 229u);
        EXPECT_EQ(colour & 0xFF, 0x32u);
    }
}

TEST_F(Embers, MoveRisesAndDriftsOnASine) {
    gEmbers = {Ember{100.0f, 300.0f, 2.0f, 3.0f, 50.0f, 100.0f}};
    gFrameTick = 1;
    UpdateEmbers(900, 560);
    ASSERT_EQ(gEmbers.size(), 1u);
    EXPECT_FLOAT_EQ(gEmbers[0].y, 298.0f);
    EXPECT_NEAR(gEmbers[0].x, 100.0f + 0.4f * std::sin(0.02 * (100.0 + 298.0)), 1e-4);
    EXPECT_EQ(gEmbers[0].life, 49.0f);
}

TEST_F(Embers, DeadAndRisenEmbersAreDroppedKeepingOrder) {
    gEmbers = {
        Ember{1.0f, 300.0f, 1.0f, 2.0f, 1.0f, 100.0f},  // life runs out
        Ember{2.0f, 300.0f, 1.0f, 2.0f, 50.0f, 100.0f},
        Ember{3.0f, -9.0f, 1.5f, 2.0f, 50.0f, 100.0f},  // passes y = -10
        Ember{4.0f, -8.0f, 1.5f, 2.0f, 50.0f, 100.0f},  // reaches -9.5: stays
        Ember{5.0f, 300.0f, 1.0f, 2.0f, 2.0f, 100.0f},
    };
    gFrameTick = 1;
    UpdateEmbers(900, 560);
    ASSERT_EQ(gEmbers.size(), 3u);
    EXPECT_FLOAT_EQ(gEmbers[0].y, 299.0f);
    EXPECT_FLOAT_EQ(gEmbers[1].y, -9.5f);
    EXPECT_EQ(gEmbers[2].life, 1.0f);
    UpdateEmbers(900, 560);
    ASSERT_EQ(gEmbers.size(), 1u);  // -9.5 rose past -10, the last one ran out of life
    EXPECT_FLOAT_EQ(gEmbers[0].y, 298.0f);
    EXPECT_EQ(gEmbers[0].life, 48.0f);
}

TEST_F(Embers, NoSpawnWithoutWidth) {
    gFrameTick = 0;
    UpdateEmbers(0, 560);
    EXPECT_TRUE(gEmbers.empty());
    gEmbers = {Ember{2.0f, 300.0f, 1.0f, 2.0f, 50.0f, 100.0f}};
    UpdateEmbers(0, 560);
    ASSERT_EQ(gEmbers.size(), 1u);
    EXPECT_FLOAT_EQ(gEmbers[0].y, 299.0f);
}

TEST_F(Embers, InAFullWindowLifeEndsEveryEmberBeforeItLeavesAtTheTop) {
    int died = 0;
    for (int tick = 0; tick < 3000; ++tick) {
        gFrameTick = tick;
        // Before the step: every ember that outlives it must still be below y = -10 afterwards,
        // so the drop is always for age, never for leaving at the top.
        for (const Ember& e : gEmbers) {
            if (e.life - 1.0f > 0.0f) {
                ASSERT_GE(e.y - e.riseSpeed, -10.0f);
            }
        }
        const size_t before = gEmbers.size();
        UpdateEmbers(900, 560);
        if (gEmbers.size() < before + 1)
            died += static_cast<int>(before + 1 - gEmbers.size());
    }
    EXPECT_GT(died, 100) << "embers must come and go over 3000 frames";
}

// Embers drawn into a frame appear only inside the band from y 118 to H - 214.
TEST_F(Embers, DrawnOnlyInsideTheBand) {
    for (FrameMode mode : {FrameMode::Plain, FrameMode::Cached}) {
        SCOPED_TRACE(mode == FrameMode::Plain ? "plain" : "cached");
        ResetPaintState();
        gFrameTick = 1;  // no spawn
        const Frame without = Compose(900, 560, mode);
        // Long-lived embers, big and bright: above the band, across its top edge, inside it,
        // across its bottom edge and below it.
        const float ys[] = {80.0f, 116.5f, 200.0f, 344.5f, 400.0f};
        for (float y : ys)
            gEmbers.push_back(Ember{450.0f, y + 1.0f, 1.0f, 3.9f, 239.0f, 240.0f});
        const Frame with = Compose(900, 560, mode);
        int changedAbove = 0, changedInside = 0, changedBelow = 0;
        for (int y = 0; y < 560; ++y) {
            for (int x = 440; x < 460; ++x) {
                if (with.At(x, y) == without.At(x, y))
                    continue;
                if (y < 118) {
                    ++changedAbove;
                } else if (y < 346) {
                    ++changedInside;
                } else {
                    ++changedBelow;
                }
            }
        }
        EXPECT_EQ(changedAbove, 0);
        EXPECT_EQ(changedBelow, 0);
        EXPECT_GE(changedInside, 9);  // the whole middle ember and parts of the edge ones
    }
}

}  // namespace
