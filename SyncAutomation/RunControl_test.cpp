#include "SyncAutomation/RunControl.h"

#include <gtest/gtest.h>

namespace kelto {
namespace {

// A control whose stored cancellation counts its calls.
struct Control : ::testing::Test {
    RunControl control;
    int calls = 0;
    RunControl::Cancellation count = [this] { ++calls; };

    // Calls what an operation handed back, as its caller must.
    void call(const RunControl::Cancellation& cancellation) {
        if (cancellation) cancellation();
    }
};

TEST_F(Control, ACancelBeforeTheWorkExistsIsReportedWhenItsCancellationIsStored) {
    EXPECT_FALSE(control.cancel());  // nothing to call yet
    EXPECT_TRUE(control.setCancellation(count));
    EXPECT_EQ(control.finish(), RunOutcome::cancelled());
    RunControl fresh;
    EXPECT_FALSE(fresh.setCancellation(count));
    call(fresh.cancel());
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(fresh.finish(), RunOutcome::cancelled());
}

TEST_F(Control, AVolumeReportedBeforeTheRootsInterruptsAsSoonAsTheyAreKnown) {
    control.setCancellation(count);
    EXPECT_FALSE(control.volumeWillUnmount("/media/Disk/"));
    EXPECT_EQ(calls, 0);
    call(control.setRoots({"/home/me/Photos", "/media/Disk/./Backup"}));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(control.finish(), RunOutcome::interrupted());
}

TEST_F(Control, AnUnrelatedVolumeIsOnlyRemembered) {
    control.setCancellation(count);
    // A name that merely starts like a root's volume is another volume.
    EXPECT_FALSE(control.volumeWillUnmount("/media/Back"));
    EXPECT_FALSE(control.setRoots({"/home/me/Photos", "/media/Backup/Photos"}));
    EXPECT_FALSE(control.volumeWillUnmount("/media/Other"));
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(control.finish(), std::nullopt);
}

TEST_F(Control, AnUnmountOutranksACancel) {
    control.setCancellation(count);
    control.setRoots({"/home/me/Photos", "/media/Disk/Backup"});
    call(control.cancel());
    call(control.volumeWillUnmount("/media/Disk"));
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(control.finish(), RunOutcome::interrupted());
}

TEST_F(Control, AfterACommitNeitherUnmountNorCancelChangesTheOutcome) {
    control.setCancellation(count);
    control.setRoots({"/home/me/Photos", "/media/Disk/Backup"});
    call(control.cancel());  // came too late to stop the transfer
    ASSERT_EQ(calls, 1);
    control.commit();
    EXPECT_FALSE(control.volumeWillUnmount("/media/Disk"));
    EXPECT_FALSE(control.cancel());
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(control.finish(), std::nullopt);
}

TEST_F(Control, NothingChangesOnceFinished) {
    control.setCancellation(count);
    control.setRoots({"/home/me/Photos", "/media/Disk/Backup"});
    EXPECT_EQ(control.finish(), std::nullopt);
    EXPECT_FALSE(control.cancel());
    EXPECT_FALSE(control.volumeWillUnmount("/media/Disk"));
    EXPECT_FALSE(control.setCancellation(count));
    EXPECT_FALSE(control.cancel());  // the late cancellation was not stored
    EXPECT_EQ(calls, 0);
    EXPECT_EQ(control.finish(), std::nullopt);
}

}  // namespace
}  // namespace kelto
