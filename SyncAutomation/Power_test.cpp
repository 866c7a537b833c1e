#include "SyncAutomation/PowerSource.h"
#include "SyncAutomation/SleepAssertion.h"

#include "tests/support/FakeSleepInhibitor.h"
#include "tests/support/TemporaryFolder.h"

#include <gtest/gtest.h>

namespace kelto {
namespace {

namespace fs = std::filesystem;

// A power-supply class folder as the kernel lays it out.
struct PowerSupplies : ::testing::Test {
    test::TemporaryFolder folder;

    void set(const std::string& supply, const std::string& key, const std::string& value) {
        folder.write(supply + "/" + key, value + "\n");
    }
    void battery(const std::string& name, const std::string& status, const std::string& scope = "System") {
        set(name, "type", "Battery");
        set(name, "status", status);
        set(name, "scope", scope);
    }
    void external(const std::string& name, const std::string& type, bool online) {
        set(name, "type", type);
        set(name, "online", online ? "1" : "0");
    }
    void unreadable(const std::string& supply, const std::string& key) {
        fs::remove(folder / supply / key);
        fs::create_directories(folder / supply / key);
    }
    bool onBattery() const { return PowerSource::isOnBattery(folder.path()); }
};

TEST_F(PowerSupplies, OnBatteryOnlyWhileASystemBatteryDischargesWithNoSupplyOnline) {
    battery("BAT0", "Discharging");
    external("AC", "Mains", false);
    battery("BAT1", "Full");
    EXPECT_TRUE(onBattery());
    for (const std::string type : {"Mains", "USB", "USB_C", "USB_PD", "Wireless"}) {
        SCOPED_TRACE(type);
        external("ADP1", type, true);
        EXPECT_FALSE(onBattery());
        external("ADP1", type, false);
        EXPECT_TRUE(onBattery());
    }
    for (const std::string status : {"Charging", "Full", "Not charging", "Unknown", ""}) {
        SCOPED_TRACE(status);
        battery("BAT0", status);
        EXPECT_FALSE(onBattery());
    }
}

TEST_F(PowerSupplies, NoSystemBatteryOrAnythingUnreadableIsMainsPowerAndSuppliesAreReadThroughTheirLinks) {
    EXPECT_FALSE(PowerSource::isOnBattery(folder / "absent"));
    external("AC", "Mains", false);
    battery("hidpp_battery_0", "Discharging", "Device");  // a desktop whose wireless mouse runs down
    EXPECT_FALSE(onBattery());
    battery("BAT0", "Discharging");
    ASSERT_TRUE(onBattery());
    for (const char* key : {"online", "type"}) {
        unreadable("AC", key);
        EXPECT_FALSE(onBattery()) << key;
    }
    fs::remove_all(folder / "AC");
    ASSERT_TRUE(onBattery());
    unreadable("BAT0", "status");
    EXPECT_FALSE(onBattery());
    // sysfs lists each supply as a link to its device's folder.
    fs::remove_all(folder / "BAT0");
    test::TemporaryFolder devices;
    devices.write("BAT0/type", "Battery\n");
    devices.write("BAT0/status", "Discharging\n");
    devices.write("ACAD/type", "Mains\n");
    devices.write("ACAD/online", "0\n");
    for (const char* supply : {"BAT0", "ACAD"}) fs::create_directory_symlink(devices / supply, folder / supply);
    EXPECT_TRUE(onBattery());
}

// A refused assertion has nothing to release.
TEST(SleepAssertion, HoldsItsOwnInhibitionUntilReleasedOrDestroyedAndReleasesItOnce) {
    test::FakeSleepInhibitor inhibitor;
    {
        SleepAssertion first(inhibitor, std::string(SleepAssertion::runReason));
        SleepAssertion second(inhibitor, "second");
        EXPECT_TRUE(first.isHeld());
        first.release();
        first.release();
        EXPECT_FALSE(first.isHeld());
        EXPECT_TRUE(second.isHeld());
        EXPECT_EQ(inhibitor.releases(), 1u);
    }
    EXPECT_EQ(inhibitor.reasons(), (std::vector<std::string>{std::string(SleepAssertion::runReason), "second"}));
    EXPECT_EQ(inhibitor.releases(), 2u);
    inhibitor.refuse();
    {
        SleepAssertion refused(inhibitor, "refused");
        EXPECT_FALSE(refused.isHeld());
        refused.release();
    }
    EXPECT_EQ(inhibitor.takes(), 3u);
    EXPECT_EQ(inhibitor.granted(), 2u);
    EXPECT_EQ(inhibitor.releases(), 2u);
}

}  // namespace
}  // namespace kelto
