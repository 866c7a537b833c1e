#include "Platform/System/LinuxSystemEvents.h"

#include "SyncAutomation/Async/ManualExecutor.h"
#include "tests/support/TemporaryFolder.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace kelto {
namespace {

namespace fs = std::filesystem;

// A dbus-daemon of the test's own, on a socket in the test's folder, that
// lets anyone own any name. Its address is empty when it could not start.
class PrivateBus {
public:
    explicit PrivateBus(const fs::path& folder) {
        const fs::path program = "/usr/bin/dbus-daemon";
        if (!fs::exists(program)) return;
        const fs::path config = folder / "bus.conf";
        std::ofstream(config) << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                                 " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                                 "<busconfig><type>session</type><listen>unix:path="
                              << (folder / "bus").native()
                              << "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                                 "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                                 "<allow own=\"*\"/></policy></busconfig>\n";
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) return;
        std::vector<std::string> arguments{program, "--config-file=" + config.native(), "--nofork", "--nosyslog",
                                           "--print-address=1"};
        std::vector<char*> argv;
        for (auto& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        const bool started = ::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) == 0;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        if (!started) pid_ = -1;
        // The daemon prints its address once it listens, and nothing if it fails.
        std::string line;
        char c = 0;
        while (started && ::read(out[0], &c, 1) == 1 && c != '\n') line += c;
        ::close(out[0]);
        if (c == '\n') address_ = line;
    }
    ~PrivateBus() { stop(); }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    const std::string& address() const { return address_; }
    void stop() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
    std::string address_;
};

// A connection to a bus that sends PrepareForSleep as logind does, owning
// logind's name unless told otherwise.
class FakeLogind {
public:
    explicit FakeLogind(const std::string& address, bool ownName = true) {
        EXPECT_GE(sd_bus_new(&bus_), 0);
        EXPECT_GE(sd_bus_set_address(bus_, address.c_str()), 0);
        EXPECT_GE(sd_bus_set_bus_client(bus_, 1), 0);
        EXPECT_GE(sd_bus_start(bus_), 0);
        if (ownName) {
            EXPECT_GE(sd_bus_request_name(bus_, "org.freedesktop.login1", 0), 0);
        }
    }
    ~FakeLogind() { sd_bus_flush_close_unref(bus_); }
    FakeLogind(const FakeLogind&) = delete;
    FakeLogind& operator=(const FakeLogind&) = delete;

    void prepareForSleep(bool sleeping) {
        EXPECT_GE(sd_bus_emit_signal(bus_, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                                     "PrepareForSleep", "b", static_cast<int>(sleeping)),
                  0);
        EXPECT_GE(sd_bus_flush(bus_), 0);
    }

private:
    sd_bus* bus_ = nullptr;
};

struct SystemEventsTest : ::testing::Test {
    test::TemporaryFolder folder;
    fs::path etc = folder / "etc";
    fs::path localtime = etc / "localtime";
    PrivateBus bus{folder.path()};
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
    bool waitFor(SystemEvent kind, std::size_t n) {
        return main.runUntil([&] { return count(kind) >= n; });
    }
    // Everything pending on the watch thread before this point has been told
    // once a wake sent now arrives: the thread reads its sources in order.
    bool settle(FakeLogind& logind) {
        const std::size_t wakes = count(SystemEvent::wokeFromSleep);
        logind.prepareForSleep(false);
        return waitFor(SystemEvent::wokeFromSleep, wakes + 1);
    }
};

TEST_F(SystemEventsTest, WithoutASystemBusOnlyWakeEventsAreMissing) {
    LinuxSystemEvents watcher(localtime, noBus());
    EXPECT_TRUE(watcher.watchesClock());
    EXPECT_TRUE(watcher.watchesTimeZone());
    EXPECT_FALSE(watcher.watchesSleep());

    LinuxSystemEvents nothingThere(folder / "absent" / "localtime", noBus());
    EXPECT_FALSE(nothingThere.watchesTimeZone());
    EXPECT_TRUE(nothingThere.watchesClock());
}

TEST_F(SystemEventsTest, ReplacingOrRetargetingTheZoneFileIsATimeZoneChange) {
    LinuxSystemEvents watcher(localtime, noBus());
    const Subscription subscription = follow(watcher);

    // A copied zone renamed over the link.
    fs::copy_file("/usr/share/zoneinfo/America/New_York", etc / "localtime.new");
    fs::rename(etc / "localtime.new", localtime);
    ASSERT_TRUE(waitFor(SystemEvent::timeZoneChanged, 1));

    // The copy written over in place.
    std::ofstream(localtime, std::ios::binary | std::ios::trunc) << "TZif";
    ASSERT_TRUE(waitFor(SystemEvent::timeZoneChanged, 2));

    // A new link renamed over it, as zone tools do.
    fs::create_symlink("/usr/share/zoneinfo/Australia/Lord_Howe", etc / ".localtime.tmp");
    fs::rename(etc / ".localtime.tmp", localtime);
    ASSERT_TRUE(waitFor(SystemEvent::timeZoneChanged, 3));

    // Removed and linked anew: one or two reports, depending on when the
    // watch thread reads.
    fs::remove(localtime);
    fs::create_symlink("/usr/share/zoneinfo/Europe/Berlin", localtime);
    ASSERT_TRUE(waitFor(SystemEvent::timeZoneChanged, 4));
    EXPECT_EQ(count(SystemEvent::timeZoneChanged), events.size());
}

TEST_F(SystemEventsTest, OtherFilesBesideTheZoneFileChangeNothing) {
    if (bus.address().empty()) GTEST_SKIP() << "dbus-daemon is not available";
    LinuxSystemEvents watcher(localtime, bus.address());
    FakeLogind logind(bus.address());
    const Subscription subscription = follow(watcher);

    std::ofstream(etc / "hostname") << "kelto\n";
    fs::rename(etc / "hostname", etc / "hostname.old");
    fs::create_symlink("/usr/share/zoneinfo/Asia/Tokyo", etc / "localtime.bak");
    fs::remove(etc / "localtime.bak");
    fs::create_directory(etc / "localtime.d");
    ASSERT_TRUE(settle(logind));
    EXPECT_EQ(events, std::vector<SystemEvent>{SystemEvent::wokeFromSleep});
}

TEST_F(SystemEventsTest, SettingTheClockIsAClockChangeEachTime) {
    LinuxSystemEvents watcher(localtime, bus.address().empty() ? noBus() : bus.address());
    const Subscription subscription = follow(watcher);
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
    if (bus.address().empty()) return;
    // Re-armed after each report: exactly two, not a stream of them.
    FakeLogind logind(bus.address());
    ASSERT_TRUE(settle(logind));
    EXPECT_EQ(events, (std::vector<SystemEvent>{SystemEvent::clockChanged, SystemEvent::clockChanged,
                                                SystemEvent::wokeFromSleep}));
}

TEST_F(SystemEventsTest, LogindEndingASleepIsAWake) {
    if (bus.address().empty()) GTEST_SKIP() << "dbus-daemon is not available";
    // Started before logind is on the bus: its signals still arrive later.
    LinuxSystemEvents watcher(localtime, bus.address());
    ASSERT_TRUE(watcher.watchesSleep());
    const Subscription subscription = follow(watcher);
    FakeLogind logind(bus.address());

    // Going to sleep is no event; the same signal from another sender is ignored.
    FakeLogind impostor(bus.address(), false);
    logind.prepareForSleep(true);
    impostor.prepareForSleep(false);
    logind.prepareForSleep(false);
    ASSERT_TRUE(waitFor(SystemEvent::wokeFromSleep, 1));
    ASSERT_TRUE(settle(logind));
    EXPECT_EQ(events, (std::vector<SystemEvent>{SystemEvent::wokeFromSleep, SystemEvent::wokeFromSleep}));
}

TEST_F(SystemEventsTest, LosingTheBusStopsOnlyWakeEventsAndTheWatcherStopsCleanly) {
    std::optional<Subscription> subscription;
    {
        LinuxSystemEvents watcher(localtime, bus.address().empty() ? noBus() : bus.address());
        subscription = follow(watcher);
        if (!bus.address().empty()) {
            FakeLogind logind(bus.address());
            ASSERT_TRUE(settle(logind));
            bus.stop();
        }
        fs::remove(localtime);
        ASSERT_TRUE(waitFor(SystemEvent::timeZoneChanged, 1));
    }
    // Letting go after the watcher is gone is safe.
    subscription.reset();
}

}  // namespace
}  // namespace kelto
