#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "app/patch_status.h"

TEST(PatchStatus, StartsReadyAndIdle) {
    PatchStatus status;
    EXPECT_EQ(ReadStatusText(status), L"Készen áll.");
    EXPECT_EQ(status.phase.load(), PatchPhase::Idle);
    EXPECT_EQ(status.overallProgress.load(), 0.0);
    EXPECT_EQ(status.fileProgress.load(), 0.0);
    EXPECT_FALSE(status.busy.load());
    EXPECT_FALSE(status.stopRequested.load());
    EXPECT_FALSE(status.fullCheck.load());
    EXPECT_FALSE(status.workerThread.joinable());
}

TEST(PatchStatus, PhaseNumbersAreFixed) {
    EXPECT_EQ(static_cast<int>(PatchPhase::Idle), 0);
    EXPECT_EQ(static_cast<int>(PatchPhase::Checking), 1);
    EXPECT_EQ(static_cast<int>(PatchPhase::Downloading), 2);
    EXPECT_EQ(static_cast<int>(PatchPhase::Verifying), 3);
    EXPECT_EQ(static_cast<int>(PatchPhase::UpToDate), 4);
    EXPECT_EQ(static_cast<int>(PatchPhase::Updated), 5);
    EXPECT_EQ(static_cast<int>(PatchPhase::Failed), 6);
    EXPECT_TRUE(IsReadyPhase(PatchPhase::UpToDate));
    EXPECT_TRUE(IsReadyPhase(PatchPhase::Updated));
    for (PatchPhase p : {PatchPhase::Idle, PatchPhase::Checking, PatchPhase::Downloading,
                         PatchPhase::Verifying, PatchPhase::Failed}) {
        EXPECT_FALSE(IsReadyPhase(p));
    }
}

TEST(PatchStatus, SetStatusTextReplacesTheLine) {
    PatchStatus status;
    SetStatusText(status, L"Letöltés (1/2): a.pak");
    EXPECT_EQ(ReadStatusText(status), L"Letöltés (1/2): a.pak");
}

// A reader that sees busy cleared must also see the cancelled phase and line, never the state of
// the run that was being stopped.
TEST(PatchStatus, FinishCancelledIsSeenInOrderByAConcurrentReader) {
    for (int round = 0; round < 200; ++round) {
        PatchStatus status;
        status.busy.store(true);
        status.phase.store(PatchPhase::Downloading);
        SetStatusText(status, L"Letöltés (3/9): data\\big.pak");

        std::atomic<bool> go{false};
        std::atomic<int> violations{0};
        std::thread reader([&] {
            while (!go.load()) {
            }
            for (;;) {
                if (!status.busy.load()) {
                    if (status.phase.load() != PatchPhase::Idle)
                        ++violations;
                    if (ReadStatusText(status) != L"Megszakítva.")
                        ++violations;
                    return;
                }
            }
        });
        go.store(true);
        FinishCancelled(status);
        reader.join();
        ASSERT_EQ(violations.load(), 0) << "round " << round;
    }
}

TEST(PatchStatus, GlobalRecordStartsNull) {
    EXPECT_EQ(gPatchStatus, nullptr);
}
