#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

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

// A step adds at most one ember: on every third tick only, below the limit of 60, and only with a
// width to place it in; the embers already there move either way.
TEST_F(Embers, ASpawnNeedsItsTickRoomAndWidth) {
    const struct {
        int width;
        int tick;
        size_t before;
        size_t after;
    } rows[] = {
        {900, 0, 0, 1},    {900, 1, 0, 0},    {900, 2, 0, 0},    {900, 3, 0, 1},
        {900, 2998, 5, 5}, {900, 2997, 5, 6}, {900, 30, 59, 60}, {900, 30, 60, 60},
        {1, 3, 0, 1},      {0, 3, 0, 0},      {0, 3, 1, 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE("width " + std::to_string(row.width) + " tick " + std::to_string(row.tick) +
                     " embers " + std::to_string(row.before));
        gEmbers.assign(row.before, Ember{10.0f, 300.0f, 1.0f, 2.0f, 100.0f, 200.0f});
        gFrameTick = row.tick;
        UpdateEmbers(row.width, 560, gFrameTick);
        ASSERT_EQ(gEmbers.size(), row.after);
        for (size_t i = 0; i < row.before; ++i)
            EXPECT_FLOAT_EQ(gEmbers[i].y, 299.0f);
        if (row.after > row.before) {
            // Born at a whole x inside the width, then drifted by at most 0.4.
            EXPECT_GE(gEmbers.back().x, -0.4f);
            EXPECT_LE(gEmbers.back().x, static_cast<float>(row.width) - 0.6f);
        }
    }
}

TEST_F(Embers, ANewEmberIsMovedOnceAndStartsJustUnderFullAlpha) {
    for (int i = 0; i < 500; ++i) {
        gEmbers.clear();
        gFrameTick = 3 * i;
        UpdateEmbers(900, 560, gFrameTick);
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
    UpdateEmbers(900, 560, gFrameTick);
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
    UpdateEmbers(900, 560, gFrameTick);
    ASSERT_EQ(gEmbers.size(), 3u);
    EXPECT_FLOAT_EQ(gEmbers[0].y, 299.0f);
    EXPECT_FLOAT_EQ(gEmbers[1].y, -9.5f);
    EXPECT_EQ(gEmbers[2].life, 1.0f);
    UpdateEmbers(900, 560, gFrameTick);
    ASSERT_EQ(gEmbers.size(), 1u);  // -9.5 rose past -10, the last one ran out of life
    EXPECT_FLOAT_EQ(gEmbers[0].y, 298.0f);
    EXPECT_EQ(gEmbers[0].life, 48.0f);
}

// Over a long run the list fills up to its limit and stays there, and every ember ends by age.
TEST_F(Embers, InAFullWindowLifeEndsEveryEmberBeforeItLeavesAtTheTop) {
    int died = 0;
    size_t most = 0;
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
        UpdateEmbers(900, 560, gFrameTick);
        if (gEmbers.size() < before + 1)
            died += static_cast<int>(before + 1 - gEmbers.size());
        most = std::max(most, gEmbers.size());
        ASSERT_LE(gEmbers.size(), 60u) << "tick " << tick;
    }
    EXPECT_EQ(most, 60u);
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
