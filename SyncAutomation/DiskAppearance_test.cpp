#include "SyncAutomation/DiskAppearance.h"

#include "tests/support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <sys/sysmacros.h>

namespace kelto {
namespace {

// Now is 5000; the monotonic clock reads 300 and the time since boot `sinceBoot`, which differs after a sleep.
class FixedClock final : public Clock {
public:
    explicit FixedClock(double sinceBoot) : sinceBoot_(sinceBoot) {}
    Date now() const override { return Date{5000}; }
    double monotonicSeconds() const override { return 300; }
    double secondsSinceBoot() const override { return sinceBoot_; }

private:
    double sinceBoot_;
};

TEST(DiskAppearanceTest, UdevInitialisationTimeIsTurnedIntoWallTimeAndNothingForWhatCannotBeRead) {
    test::TemporaryFolder udev;
    const FixedClock clock(300);
    udev.write("b8:17", "S:disk/by-uuid/ABCD\nI:120500000\nE:ID_BUS=usb\n");
    // Set up 179.5 s of monotonic time ago.
    EXPECT_EQ(DiskAppearance::udevInitialisationTime(makedev(8, 17), udev.path(), clock), Date{5000 - 179.5});
    EXPECT_EQ(DiskAppearance::udevInitialisationTime(makedev(8, 17), udev.path(), FixedClock(1300)),
              Date{5000 - 1179.5})
        << "a wake must not make the disk look newly connected";
    udev.write("b8:18", "S:disk/by-label/X\n");
    udev.write("b8:19", "I:notanumber\n");
    udev.write("b8:20", "I:900000000\n");  // after now: a record from before a reboot
    for (unsigned minor : {18u, 19u, 20u, 21u})
        EXPECT_FALSE(DiskAppearance::udevInitialisationTime(makedev(8, minor), udev.path(), clock)) << minor;
    EXPECT_FALSE(DiskAppearance::udevInitialisationTime(makedev(0, 17), udev.path(), clock));
    EXPECT_FALSE(DiskAppearance::appearanceTime(udev / "missing", nullptr, udev.path(), clock));
    EXPECT_FALSE(DiskAppearance::appearanceTime(udev.path(), nullptr, udev / "missing", clock));
}

}  // namespace
}  // namespace kelto
