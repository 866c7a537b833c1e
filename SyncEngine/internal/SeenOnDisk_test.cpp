#include "SyncEngine/internal/SeenOnDisk.h"

#include "tests/support/TemporaryFolder.h"

#include <gtest/gtest.h>

using namespace kelto;

namespace {

// The wall clock stood an hour later when the look began and has been set
// back since: a save made after the look began stamps before its start, yet
// is no version the look compared. What stood before the look still counts.
TEST(SeenOnDisk, ASaveAfterTheLookBeganIsNoVersionItSawThoughTheClockWasSetBackSince) {
    test::TemporaryFolder tmp;
    tmp.write("before", "old");
    SeenOnDisk::Start start = SeenOnDisk::Start::now();
    start.at.tv_sec += 3600;
    tmp.write("saved", "new");

    SeenOnDisk disk(tmp.path(), start);
    EXPECT_EQ(disk.now("saved"), std::nullopt);
    EXPECT_NE(disk.now("before"), std::nullopt);
}

// Where the kernel stamps status changes, that stamp alone tells; elsewhere
// (exFAT, sshfs, FUSE) the status-change time is a time anyone sets, and
// only a modification time between the start and the clock shows a save.
TEST(SeenOnDisk, WhatCountsAsStandingBeforeTheLookIsWhatTheDiskKeeps) {
    const timespec now{1'000'010, 0}, onAStep{1'000'000, 0};
    const auto version = [](std::int64_t mtime, std::int64_t mtimeFraction, std::int64_t changed,
                            std::int64_t changedFraction) {
        ItemVersion v = ItemVersion::listed(EntryKind::file, 1, mtime);
        v.mtimeNanoseconds = mtimeFraction;
        v.changed = changed;
        v.changedNanoseconds = changedFraction;
        return v;
    };
    const auto stood = [&](const char* type, const ItemVersion& v, timespec at = {1'000'000, 500'000'000}) {
        return SeenOnDisk::stoodBefore(v, at, now, FileSystemCapabilities::forType(type));
    };
    // Stamped by this kernel: changed before, just after, or within the
    // second a stamp without a fraction names.
    EXPECT_TRUE(stood("ext4", version(0, 0, 1'000'000, 400'000'000)));
    EXPECT_FALSE(stood("ext4", version(0, 0, 1'000'000, 600'000'000)));
    EXPECT_FALSE(stood("ext4", version(0, 0, 1'000'000, 0)));
    EXPECT_TRUE(stood("ext4", version(0, 0, 999'999, 0)));
    // A time a camera ran ahead with, or a server's, is no save since; nor
    // is what the last run wrote a moment before a start on one of the
    // disk's steps.
    for (const char* type : {"exfat", "fuse.sshfs", "fuseblk", "vfat", "nfs4", "fuse.unknown", ""}) {
        SCOPED_TRACE(type);
        const std::int64_t year2031 = 1'940'000'000;
        EXPECT_TRUE(stood(type, version(year2031, 0, year2031, 0)));
        EXPECT_TRUE(stood(type, version(999'998, 0, 999'998, 0), onAStep));
        EXPECT_TRUE(stood(type, version(999'999, 600'000'000, 1'000'005, 0), onAStep));
        EXPECT_FALSE(stood(type, version(1'000'000, 0, 1'000'000, 0), onAStep));
        EXPECT_FALSE(stood(type, version(1'000'001, 0, 1'000'001, 0)));
        // A stamp in the step the start falls in may be a save after it,
        // unless the disk steps finer than the start's fraction.
        EXPECT_EQ(stood(type, version(1'000'000, 0, 1'000'000, 0)),
                  FileSystemCapabilities::forType(type).timeResolution <= 500'000'000);
        EXPECT_FALSE(stood(type, version(1'000'000, 600'000'000, 0, 0)));
    }
    // A look on such a disk begins at one of its steps, so that a save made
    // after it stamps no earlier, and the last run's copies, stamped with
    // what was saved before, earlier.
    timespec before{};
    ::clock_gettime(CLOCK_REALTIME, &before);
    const SeenOnDisk::Start aligned = SeenOnDisk::Start::now(5'000'000);
    EXPECT_EQ(aligned.at.tv_nsec % 5'000'000, 0);
    EXPECT_GT(std::pair(aligned.at.tv_sec, aligned.at.tv_nsec), std::pair(before.tv_sec, before.tv_nsec));
    EXPECT_EQ(SeenOnDisk::stepOf("/proc"), FileSystemCapabilities{}.timeResolution);  // a disk the table does not know
}

}  // namespace
