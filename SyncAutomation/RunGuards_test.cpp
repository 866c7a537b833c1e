#include "SyncAutomation/JobLock.h"
#include "SyncAutomation/PowerSource.h"
#include "SyncAutomation/SleepAssertion.h"

#include "SyncAutomation/AutomationFakes_test.h"
#include "SyncModel/Support/FileIO.h"
#include "tests/support/FakeSleepInhibitor.h"
#include "tests/support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

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

TEST_F(PowerSupplies, OnBatteryOnlyWhileASystemBatteryDischargesWithNoSupplyOnlineAndNothingUnreadable) {
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
    EXPECT_FALSE(PowerSource::isOnBattery(folder / "absent"));
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
    EXPECT_EQ(std::tuple(inhibitor.takes(), inhibitor.granted(), inhibitor.releases()), std::tuple(3u, 2u, 2u));
}

TEST(JobLockTest, OneHolderAtATimeNotAChildOfItsProcessAndTheFileStaysOrAnErrorNamingIt) {
    test::TemporaryFolder tmp;
    const fs::path file = tmp / "state/JOB.lock";
    std::optional<JobLock> first = JobLock::tryTake(file);
    ASSERT_TRUE(first);
    EXPECT_FALSE(JobLock::tryTake(file));
    EXPECT_TRUE(JobLock::tryTake(tmp / "state/OTHER.lock"));
    // rsync children outlive a killed run now and then; they must not keep its job locked.
    pid_t sleeper = -1;
    const char* argv[] = {"/bin/sleep", "60", nullptr};
    ASSERT_EQ(::posix_spawn(&sleeper, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ), 0);
    first->release();
    EXPECT_TRUE(fs::exists(file));
    std::optional<JobLock> second = JobLock::tryTake(file);
    EXPECT_TRUE(second);
    ::kill(sleeper, SIGKILL);
    ::waitpid(sleeper, nullptr, 0);
    second.reset();
    EXPECT_TRUE(JobLock::tryTake(file));
    fs::create_directories(tmp / "JOB2.lock");
    const auto error = test::thrownBy<FileError>([&] { JobLock::tryTake(tmp / "JOB2.lock"); });
    ASSERT_TRUE(error);
    EXPECT_EQ(std::pair(error->errorNumber(), error->path()), std::pair(EISDIR, tmp / "JOB2.lock"));
    // Another process holds it until it is killed.
    int held[2];
    ASSERT_EQ(::pipe2(held, O_CLOEXEC), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const std::optional<JobLock> lock = JobLock::tryTake(file);
        const char answer = lock ? 'y' : 'n';
        [[maybe_unused]] const auto written = ::write(held[1], &answer, 1);
        ::pause();  // until killed
        ::_exit(0);
    }
    ::close(held[1]);
    char answer = 0;
    ASSERT_EQ(::read(held[0], &answer, 1), 1);
    ASSERT_EQ(answer, 'y');
    EXPECT_FALSE(JobLock::tryTake(file));
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_TRUE(JobLock::tryTake(file));
    ::close(held[0]);
}

}  // namespace
}  // namespace kelto
