#include "SyncAutomation/PowerSource.h"

#include "tests/support/TemporaryFolder.h"

#include <gtest/gtest.h>

namespace kelto {
namespace {

namespace fs = std::filesystem;

// A power-supply class folder laid out as the kernel does: one folder per
// supply, one file per attribute, each ending in a newline.
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
    // There, but not readable as a file.
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

TEST_F(PowerSupplies, NoSystemBatteryIsMainsPower) {
    EXPECT_FALSE(PowerSource::isOnBattery(folder / "absent"));
    EXPECT_FALSE(onBattery());
    external("AC", "Mains", false);
    EXPECT_FALSE(onBattery());
    // A desktop whose wireless mouse runs down.
    battery("hidpp_battery_0", "Discharging", "Device");
    EXPECT_FALSE(onBattery());
}

TEST_F(PowerSupplies, AnythingUnreadableCountsAsMainsPower) {
    battery("BAT0", "Discharging");
    external("AC", "Mains", false);
    ASSERT_TRUE(onBattery());
    unreadable("AC", "online");
    EXPECT_FALSE(onBattery());
    unreadable("AC", "type");
    EXPECT_FALSE(onBattery());
    fs::remove_all(folder / "AC");
    ASSERT_TRUE(onBattery());
    unreadable("BAT0", "status");
    EXPECT_FALSE(onBattery());
}

TEST_F(PowerSupplies, SuppliesAreReadThroughTheirLinks) {
    // sysfs lists each supply as a link to its device's folder.
    test::TemporaryFolder devices;
    devices.write("platform/BAT0/type", "Battery\n");
    devices.write("platform/BAT0/status", "Discharging\n");
    devices.write("platform/ACAD/type", "Mains\n");
    devices.write("platform/ACAD/online", "0\n");
    fs::create_directory_symlink(devices / "platform/BAT0", folder / "BAT0");
    fs::create_directory_symlink(devices / "platform/ACAD", folder / "ACAD");
    EXPECT_TRUE(onBattery());
    devices.write("platform/ACAD/online", "1\n");
    EXPECT_FALSE(onBattery());
}

}  // namespace
}  // namespace kelto
