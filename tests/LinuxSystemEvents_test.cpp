#include "Platform/System/LinuxSystemEvents.h"
#include "Platform/System/LogindSleepInhibitor.h"

#include "SyncAutomation/Async/ManualExecutor.h"
#include "SyncAutomation/SleepAssertion.h"
#include "tests/support/FakeLogind.h"
#include "tests/support/PrivateBus.h"
#include "tests/support/TemporaryFolder.h"

#include <fcntl.h>
#include <time.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <fstream>

namespace kelto {
namespace {

namespace fs = std::filesystem;

struct SystemEventsTest : ::testing::Test {
    test::TemporaryFolder folder;
    fs::path etc = folder / "etc";
    fs::path localtime = etc / "localtime";
    test::PrivateBus bus;
    ManualClock clock;
    ManualExecutor main{clock};
    std::vector<SystemEvent> events;
    void SetUp() override {
        fs::create_directories(etc);
        fs::create_symlink("/usr/share/zoneinfo/Europe/Berlin", localtime);
    }
    std::string noBus() const { return "unix:path=" + (folder / "no-bus").native(); }
    Subscription follow(SystemEvents& source) {
        return source.observe(main, [this](const SystemEvent& event) { events.push_back(event); });
    }
    std::size_t count(SystemEvent kind) const { return std::count(events.begin(), events.end(), kind); }
    bool waitFor(SystemEvent kind, std::size_t n) { return main.runUntil([&] { return count(kind) >= n; }); }
};

// Without a bus only wake events are missing; a zone file that is not there is not watched.
TEST_F(SystemEventsTest, ReplacingOrRetargetingTheZoneFileIsATimeZoneChange) {
    LinuxSystemEvents watcher(localtime, noBus());
    LinuxSystemEvents nothingThere(folder / "absent" / "localtime", noBus());
    EXPECT_EQ(std::tuple(watcher.watchesClock(), watcher.watchesTimeZone(), watcher.watchesSleep()),
              std::tuple(true, true, false));
    EXPECT_EQ(std::pair(nothingThere.watchesClock(), nothingThere.watchesTimeZone()), std::pair(true, false));
    const Subscription subscription = follow(watcher);
    fs::copy_file("/usr/share/zoneinfo/America/New_York", etc / "localtime.new");
    fs::rename(etc / "localtime.new", localtime);
    ASSERT_TRUE(waitFor(SystemEvent::timeZoneChanged, 1));
    std::ofstream(localtime, std::ios::binary | std::ios::trunc) << "TZif";
    ASSERT_TRUE(waitFor(SystemEvent::timeZoneChanged, 2));
    // A new link renamed over it, as zone tools do.
    fs::create_symlink("/usr/share/zoneinfo/Australia/Lord_Howe", etc / ".localtime.tmp");
    fs::rename(etc / ".localtime.tmp", localtime);
    ASSERT_TRUE(waitFor(SystemEvent::timeZoneChanged, 3));
    // Removed and linked anew: one or two reports.
    fs::remove(localtime);
    fs::create_symlink("/usr/share/zoneinfo/Europe/Berlin", localtime);
    ASSERT_TRUE(waitFor(SystemEvent::timeZoneChanged, 4));
    EXPECT_EQ(count(SystemEvent::timeZoneChanged), events.size());
}

// Started before logind is on the bus, its signals still arrive later. Going to sleep is no event, nor the same signal
// from another sender, nor a change of another file beside the zone file. The watcher stops cleanly without a bus.
TEST_F(SystemEventsTest, SettingTheClockIsAClockChangeEachTimeLogindEndingASleepIsAWakeAndLosingTheBusStopsOnlyThat) {
    std::optional<Subscription> subscription;  // outlives the watcher
    LinuxSystemEvents watcher(localtime, bus.running() ? bus.address() : noBus());
    subscription = follow(watcher);
    ASSERT_TRUE(watcher.watchesClock());
    // Setting the clock to what it already reads still counts as setting it.
    for (std::size_t n = 1; n <= 2; ++n) {
        timespec now{};
        ASSERT_EQ(::clock_gettime(CLOCK_REALTIME, &now), 0);
        if (::clock_settime(CLOCK_REALTIME, &now) != 0) {
            ASSERT_EQ(errno, EPERM);
            GTEST_SKIP() << "setting the clock needs CAP_SYS_TIME";
        }
        ASSERT_TRUE(waitFor(SystemEvent::clockChanged, n));
    }
    if (!bus.running()) GTEST_SKIP() << bus.reason();
    ASSERT_TRUE(watcher.watchesSleep());
    test::FakeLogind logind(bus.address());
    test::FakeLogind impostor(bus.address(), false);
    logind.prepareForSleep(true);
    impostor.prepareForSleep(false);
    logind.prepareForSleep(false);
    ASSERT_TRUE(waitFor(SystemEvent::wokeFromSleep, 1));
    std::ofstream(etc / "hostname") << "kelto\n";
    fs::rename(etc / "hostname", etc / "hostname.old");
    fs::create_symlink("/usr/share/zoneinfo/Asia/Tokyo", etc / "localtime.bak");
    fs::remove(etc / "localtime.bak");
    fs::create_directory(etc / "localtime.d");
    // The clock's watch is re-armed after each report: exactly two, not a stream of them. What was pending before a
    // wake sent now has been told once it arrives.
    logind.prepareForSleep(false);
    ASSERT_TRUE(waitFor(SystemEvent::wokeFromSleep, 2));
    EXPECT_EQ(events, (std::vector<SystemEvent>{SystemEvent::clockChanged, SystemEvent::clockChanged,
                                                SystemEvent::wokeFromSleep, SystemEvent::wokeFromSleep}));
    bus.stop();
    fs::remove(localtime);
    ASSERT_TRUE(waitFor(SystemEvent::timeZoneChanged, 1));
}

// What the assertion does with the descriptor is the sleep assertion's test.
TEST_F(SystemEventsTest, TheInhibitorBlocksSleepUntilItsDescriptorClosesAndARefusalOrNoLogindOrNoBusGivesNone) {
    if (!bus.running()) GTEST_SKIP() << bus.reason();
    LogindSleepInhibitor inhibitor;
    EXPECT_FALSE(inhibitor.take("reason"));
    {
        test::FakeLogind logind(bus.address());
        std::optional<FileDescriptor> held = inhibitor.take(SleepAssertion::runReason);
        ASSERT_TRUE(held);
        EXPECT_EQ(logind.calls(), (std::vector<test::FakeLogind::InhibitCall>{
                                      {"sleep:idle", "Kelto Sync", std::string(SleepAssertion::runReason), "block"}}));
        EXPECT_NE(::fcntl(held->get(), F_GETFD) & FD_CLOEXEC, 0);  // rsync must not inherit the lock
        EXPECT_FALSE(logind.released(0));
        held.reset();
        EXPECT_TRUE(logind.released(0, std::chrono::seconds(10)));
        logind.refuse();
        EXPECT_FALSE(inhibitor.take("reason"));
        EXPECT_EQ(logind.calls().size(), 2u);
    }
    test::SystemBusAddress missing(bus.address() + "-none");
    EXPECT_FALSE(LogindSleepInhibitor().take("reason"));
}

}  // namespace
}  // namespace kelto
