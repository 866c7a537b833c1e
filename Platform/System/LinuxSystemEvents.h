#pragma once

#include "SyncAutomation/Async/ObserverList.h"
#include "SyncAutomation/SystemEvents.h"
#include "SyncModel/Support/FileDescriptor.h"

#include <atomic>
#include <filesystem>
#include <stop_token>
#include <string>
#include <thread>

struct sd_bus;
struct sd_bus_slot;

namespace kelto {

// Watches on a thread of its own for the wall clock being set (a realtime
// timer the kernel cancels when the clock is set), the zone file being
// replaced (inotify on its folder) and logind announcing the end of a sleep
// (PrepareForSleep(false) on the system bus). What cannot be watched is left
// out: without a system bus or logind there are no wake events, and no error.
class LinuxSystemEvents final : public SystemEvents {
public:
    // `systemBus` is a D-Bus address; empty means the system bus, where
    // DBUS_SYSTEM_BUS_ADDRESS says or at its usual socket.
    explicit LinuxSystemEvents(std::filesystem::path localtime = "/etc/localtime", std::string systemBus = {});
    ~LinuxSystemEvents() override;
    LinuxSystemEvents(const LinuxSystemEvents&) = delete;
    LinuxSystemEvents& operator=(const LinuxSystemEvents&) = delete;

    Subscription observe(Executor& executor, Callback callback) override;

    bool watchesClock() const { return clock_.valid(); }
    bool watchesTimeZone() const { return zone_.valid(); }
    // False once the bus connection is lost.
    bool watchesSleep() const { return watchingSleep_; }

private:
    bool armClock();
    void connectBus(const std::string& address);
    void closeBus();
    void run(std::stop_token stop);
    void readClock();
    void readZone();
    void processBus();

    const std::string zoneName_;  // the zone file's name in the watched folder
    ObserverList<SystemEvent> observers_;
    FileDescriptor wakeUp_;
    FileDescriptor clock_;
    FileDescriptor zone_;
    sd_bus* bus_ = nullptr;  // the watch thread's alone once it runs
    sd_bus_slot* match_ = nullptr;
    std::atomic<bool> watchingSleep_{false};
    std::jthread thread_;  // last: started once the rest exists
};

}  // namespace kelto
