#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "patch/patch_status.h"

// Between runs the window may start a run (nothing is busy) and offers no PLAY: before the first
// run, with empty bars, and after a run that was stopped. The line tells the two apart.
TEST(PatchStatus, AtRestBeforeTheFirstRunAndAfterAStop) {
    const struct {
        const char* when;
        void (*before)(PatchStatus&);
        const wchar_t* line;
    } rows[] = {
        {"before the first run", [](PatchStatus&) {}, L"Készen áll."},
        {"after a stop",
         [](PatchStatus& status) {
             status.busy.store(true);
             status.phase.store(PatchPhase::Downloading);
             SetStatusText(status, L"Letöltés (1/2): a.pak");
             FinishCancelled(status);
         },
         L"Megszakítva."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.when);
        PatchStatus status;
        row.before(status);
        EXPECT_FALSE(status.busy.load());
        EXPECT_EQ(status.phase.load(), PatchPhase::Idle);
        EXPECT_FALSE(IsReadyPhase(status.phase.load()));
        EXPECT_EQ(ReadStatusText(status), row.line);
    }
    PatchStatus fresh;
    EXPECT_EQ(fresh.overallProgress.load(), 0.0);
    EXPECT_EQ(fresh.fileProgress.load(), 0.0);
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
