#include "SyncAutomation/RunControl.h"

#include <gtest/gtest.h>

namespace kelto {
namespace {

// Steps: C store the cancellation, c cancel, R roots on /media/Disk, B roots on /media/Backup (a name that
// merely starts like another volume's), u unmount /media/Disk, b unmount /media/Back, o unmount /media/Other,
// m commit, f finish. Each step but m gives 1 when it hands back a cancellation (called, as the caller must),
// answers true or finishes with an outcome, else 0.
struct Case {
    const char* steps;
    const char* answers;
    int calls;
    std::optional<RunOutcome> outcome;
};

TEST(RunControl, CancelsUnmountsCommitsAndFinishesInEachOrder) {
    const std::vector<Case> cases{
        {"cC", "01", 0, RunOutcome::cancelled()},     // a cancel before the work exists is reported when it is stored
        {"Cc", "01", 1, RunOutcome::cancelled()},
        {"CuR", "001", 1, RunOutcome::interrupted()},  // a volume reported before the roots interrupts once known
        {"CbBo", "0000", 0, std::nullopt},             // an unrelated volume is only remembered
        {"CRcu", "0011", 2, RunOutcome::interrupted()},  // an unmount outranks a cancel
        {"CRcmuc", "00100", 1, std::nullopt},          // after a commit neither changes the outcome
        {"CRfcuCc", "0000000", 0, std::nullopt},       // nothing changes once finished
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.steps);
        RunControl control;
        int calls = 0;
        std::string answers;
        const auto call = [&](const RunControl::Cancellation& cancellation) {
            if (cancellation) cancellation();
            answers += cancellation ? '1' : '0';
        };
        for (const char* step = c.steps; *step; ++step) {
            switch (*step) {
            case 'C': answers += control.setCancellation([&] { ++calls; }) ? '1' : '0'; break;
            case 'c': call(control.cancel()); break;
            case 'R': call(control.setRoots({"/home/me/Photos", "/media/Disk/./Backup"})); break;
            case 'B': call(control.setRoots({"/home/me/Photos", "/media/Backup/Photos"})); break;
            case 'u': call(control.volumeWillUnmount("/media/Disk/")); break;
            case 'b': call(control.volumeWillUnmount("/media/Back")); break;
            case 'o': call(control.volumeWillUnmount("/media/Other")); break;
            case 'm': control.commit(); break;
            case 'f': answers += control.finish() ? '1' : '0'; break;
            }
        }
        EXPECT_EQ(answers, c.answers);
        EXPECT_EQ(calls, c.calls);
        EXPECT_EQ(control.finish(), c.outcome);
    }
}

}  // namespace
}  // namespace kelto
