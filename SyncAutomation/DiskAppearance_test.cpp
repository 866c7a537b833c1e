#include "SyncAutomation/DiskAppearance.h"

#include "SyncAutomation/VolumeMonitor.h"
#include "tests/support/FakeVolumeSource.h"
#include "tests/support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <sys/sysmacros.h>

#include <condition_variable>
#include <mutex>

namespace kelto {
namespace {

class PinnedClock final : public Clock {
public:
    Date now() const override { return Date{5000}; }
    double monotonicSeconds() const override { return 300; }
    double secondsSinceBoot() const override { return 300; }
};

// The machine slept 1000 s since the disk came: the monotonic clock missed it.
class WokenClock final : public Clock {
public:
    Date now() const override { return Date{5000}; }
    double monotonicSeconds() const override { return 300; }
    double secondsSinceBoot() const override { return 1300; }
};

// Never reports a change: the monitor only knows what it saw appear.
class QuietWatcher final : public MountWatcher {
public:
    bool wait(std::stop_token stop) override {
        std::mutex mutex;
        std::condition_variable_any never;
        std::unique_lock lock(mutex);
        never.wait(lock, stop, [] { return false; });
        return false;
    }
};

TEST(DiskAppearanceTest, UdevInitialisationTimeIsTurnedIntoWallTime) {
    test::TemporaryFolder udev;
    const PinnedClock clock;
    udev.write("b8:17", "S:disk/by-uuid/ABCD\nI:120500000\nE:ID_BUS=usb\n");
    // Set up 179.5 s of monotonic time ago.
    EXPECT_EQ(DiskAppearance::udevInitialisationTime(makedev(8, 17), udev.path(), clock), Date{5000 - 179.5});
    EXPECT_EQ(DiskAppearance::udevInitialisationTime(makedev(8, 17), udev.path(), WokenClock()), Date{5000 - 1179.5})
        << "a wake must not make the disk look newly connected";
    udev.write("b8:18", "S:disk/by-label/X\n");
    udev.write("b8:19", "I:notanumber\n");
    udev.write("b8:20", "I:900000000\n");  // after now: a record from before a reboot
    for (unsigned minor : {18u, 19u, 20u, 21u})
        EXPECT_FALSE(DiskAppearance::udevInitialisationTime(makedev(8, minor), udev.path(), clock)) << minor;
    EXPECT_FALSE(DiskAppearance::udevInitialisationTime(makedev(0, 17), udev.path(), clock));
}

TEST(DiskAppearanceTest, NothingForWhatCannotBeRead) {
    test::TemporaryFolder udev;
    const PinnedClock clock;
    test::FakeVolumeSource source;
    const VolumeMonitor monitor(source, std::make_unique<QuietWatcher>(), clock);
    EXPECT_FALSE(DiskAppearance::appearanceTime(udev / "missing", &monitor, udev.path(), clock));
    EXPECT_FALSE(DiskAppearance::appearanceTime(udev.path(), nullptr, udev / "missing", clock));
}

}  // namespace
}  // namespace kelto
