#include "SyncEngine/internal/SeenOnDisk.h"

#include "SyncEngine/CancellationError.h"
#include "tests/support/TemporaryFolder.h"
#include <gtest/gtest.h>
#include <atomic>
#include <chrono>
#include <future>
#include <thread>

using namespace kelto;

namespace {

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
    // Stamped by this kernel: changed before, just after, or within the second a stamp without a fraction names.
    EXPECT_TRUE(stood("ext4", version(0, 0, 1'000'000, 400'000'000)));
    EXPECT_FALSE(stood("ext4", version(0, 0, 1'000'000, 600'000'000)));
    EXPECT_FALSE(stood("ext4", version(0, 0, 1'000'000, 0)));
    EXPECT_TRUE(stood("ext4", version(0, 0, 999'999, 0)));
    // A camera's time ahead, or a server's, is no save since; nor what the last run wrote just before a start
    // on one of the disk's steps.
    for (const char* type : {"exfat", "fuse.sshfs", "fuseblk", "vfat", "nfs4", "fuse.unknown", ""}) {
        SCOPED_TRACE(type);
        const std::int64_t year2031 = 1'940'000'000;
        EXPECT_TRUE(stood(type, version(year2031, 0, year2031, 0)));
        EXPECT_TRUE(stood(type, version(999'998, 0, 999'998, 0), onAStep));
        EXPECT_TRUE(stood(type, version(999'999, 600'000'000, 1'000'005, 0), onAStep));
        EXPECT_FALSE(stood(type, version(1'000'000, 0, 1'000'000, 0), onAStep));
        EXPECT_FALSE(stood(type, version(1'000'001, 0, 1'000'001, 0)));
        // A stamp in the start's step may be a later save, unless the disk steps finer than the start's fraction.
        EXPECT_EQ(stood(type, version(1'000'000, 0, 1'000'000, 0)),
                  FileSystemCapabilities::forType(type).timeResolution <= 500'000'000);
        EXPECT_FALSE(stood(type, version(1'000'000, 600'000'000, 0, 0)));
    }
    // A look on such a disk begins at one of its steps: a save after it stamps no earlier.
    timespec before{};
    ::clock_gettime(CLOCK_REALTIME, &before);
    const SeenOnDisk::Start aligned = SeenOnDisk::Start::now(5'000'000, {});
    EXPECT_EQ(aligned.at.tv_nsec % 5'000'000, 0);
    EXPECT_GT(std::pair(aligned.at.tv_sec, aligned.at.tv_nsec), std::pair(before.tv_sec, before.tv_nsec));
    EXPECT_EQ(SeenOnDisk::stepOf("/proc"), FileSystemCapabilities{}.timeResolution);  // a disk the table does not know
    SCOPED_TRACE("ASaveAfterTheLookBeganIsNoVersionItSawThoughTheClockWasSetBackSince");
    test::TemporaryFolder tmp;
    tmp.write("before", "old");
    SeenOnDisk::Start start = SeenOnDisk::Start::now(0, {});
    start.at.tv_sec += 3600;
    tmp.write("saved", "new");
    SeenOnDisk disk(tmp.path(), start);
    EXPECT_EQ(disk.now("saved"), std::nullopt);
    EXPECT_NE(disk.now("before"), std::nullopt);
}

// On a thread of its own: a wait that does not end fails the test instead of holding it.
std::future<SeenOnDisk::Start> startAside(std::int64_t step, std::stop_token stop, SeenOnDisk::WallClock wall) {
    std::packaged_task<SeenOnDisk::Start()> task([=] { return SeenOnDisk::Start::now(step, stop, wall); });
    std::future<SeenOnDisk::Start> started = task.get_future();
    std::thread(std::move(task)).detach();
    return started;
}

std::atomic<bool> waiting{false};

TEST(SeenOnDisk, TheWaitForAStepEndsOnAStopAndOutlastsNoClockSetBack) {
    constexpr auto limit = std::chrono::seconds(30);
    std::stop_source stop;
    const SeenOnDisk::WallClock watched = [] {
        waiting = true;
        waiting.notify_all();
        return SeenOnDisk::coarseWallClock();
    };
    std::future<SeenOnDisk::Start> stopped = startAside(3'600'000'000'000, stop.get_token(), watched);
    waiting.wait(false);
    stop.request_stop();
    ASSERT_EQ(stopped.wait_for(limit), std::future_status::ready);
    EXPECT_THROW(stopped.get(), CancellationError);
    const SeenOnDisk::WallClock setBack = [] {
        timespec now = SeenOnDisk::coarseWallClock();
        now.tv_sec -= 3600;
        return now;
    };
    std::future<SeenOnDisk::Start> bounded = startAside(200'000'000, {}, setBack);
    ASSERT_EQ(bounded.wait_for(limit), std::future_status::ready);
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const SeenOnDisk::Start start = bounded.get();
    EXPECT_LE(std::pair(start.at.tv_sec, start.at.tv_nsec), std::pair(now.tv_sec, now.tv_nsec));
}

}  // namespace
