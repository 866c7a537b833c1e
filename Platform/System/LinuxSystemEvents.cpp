#include "Platform/System/LinuxSystemEvents.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/timerfd.h>
#include <systemd/sd-bus.h>
#include <time.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>

namespace kelto {

namespace {

// Changes to the zone file's name: written in place, replaced by a rename
// (how zone tools retarget the link), removed or made anew.
constexpr std::uint32_t zoneMask =
    IN_CLOSE_WRITE | IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ONLYDIR;

// Milliseconds until the bus's next deadline (on the monotonic clock, in
// microseconds), -1 for none.
int pollTimeout(std::uint64_t deadline) {
    if (deadline == std::numeric_limits<std::uint64_t>::max()) return -1;
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const std::uint64_t current =
        static_cast<std::uint64_t>(now.tv_sec) * 1'000'000 + static_cast<std::uint64_t>(now.tv_nsec) / 1000;
    if (deadline <= current) return 0;
    const std::uint64_t ms = (deadline - current + 999) / 1000;
    return ms > static_cast<std::uint64_t>(std::numeric_limits<int>::max()) ? std::numeric_limits<int>::max()
                                                                            : static_cast<int>(ms);
}

// logind's PrepareForSleep: true before a sleep, false once woken.
int onPrepareForSleep(sd_bus_message* message, void* observers, sd_bus_error*) {
    int sleeping = 0;
    if (::sd_bus_message_read(message, "b", &sleeping) >= 0 && !sleeping)
        static_cast<ObserverList<SystemEvent>*>(observers)->publish(SystemEvent::wokeFromSleep);
    return 0;
}

}  // namespace

LinuxSystemEvents::LinuxSystemEvents(std::filesystem::path localtime, std::string systemBus)
    : zoneName_(localtime.filename()), wakeUp_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    // Without a way to stop the thread there is no thread, so nothing to watch.
    if (!wakeUp_.valid()) return;

    clock_.reset(::timerfd_create(CLOCK_REALTIME, TFD_CLOEXEC | TFD_NONBLOCK));
    if (clock_.valid() && !armClock()) clock_.reset();

    zone_.reset(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK));
    const std::filesystem::path folder = localtime.parent_path().empty() ? "." : localtime.parent_path();
    if (zone_.valid() && ::inotify_add_watch(zone_.get(), folder.c_str(), zoneMask) < 0) zone_.reset();

    connectBus(systemBus);

    thread_ = std::jthread([this](std::stop_token stop) { run(stop); });
}

LinuxSystemEvents::~LinuxSystemEvents() {
    if (thread_.joinable()) {
        thread_.request_stop();
        thread_.join();
    }
    closeBus();
}

Subscription LinuxSystemEvents::observe(Executor& executor, Callback callback) {
    return observers_.add(executor, std::move(callback));
}

bool LinuxSystemEvents::armClock() {
    // A deadline a year ahead that never needs to pass: the kernel cancels an
    // absolute realtime timer whenever the clock is set, by however little.
    timespec now{};
    if (::clock_gettime(CLOCK_REALTIME, &now) != 0) return false;
    itimerspec deadline{};
    deadline.it_value.tv_sec = now.tv_sec + 365 * 86'400;
    return ::timerfd_settime(clock_.get(), TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &deadline, nullptr) == 0;
}

void LinuxSystemEvents::connectBus(const std::string& address) {
    sd_bus* bus = nullptr;
    if (address.empty()) {
        if (::sd_bus_open_system(&bus) < 0) return;
    } else {
        if (::sd_bus_new(&bus) < 0) return;
        if (::sd_bus_set_address(bus, address.c_str()) < 0 || ::sd_bus_set_bus_client(bus, 1) < 0 ||
            ::sd_bus_start(bus) < 0) {
            ::sd_bus_unref(bus);
            return;
        }
    }
    bus_ = bus;
    // Installed on the bus before the constructor returns, so no signal sent
    // after construction is missed.
    const int matched = ::sd_bus_match_signal(bus_, &match_, "org.freedesktop.login1", "/org/freedesktop/login1",
                                              "org.freedesktop.login1.Manager", "PrepareForSleep", &onPrepareForSleep,
                                              &observers_);
    if (matched < 0) {
        closeBus();
        return;
    }
    watchingSleep_ = true;
}

void LinuxSystemEvents::closeBus() {
    watchingSleep_ = false;
    match_ = ::sd_bus_slot_unref(match_);
    if (bus_) bus_ = ::sd_bus_close_unref(bus_);
}

void LinuxSystemEvents::run(std::stop_token stop) {
    const std::stop_callback wake(stop, [this] {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(wakeUp_.get(), &one, sizeof one);
    });
    while (!stop.stop_requested()) {
        // Messages read while connecting, or along with earlier ones, wait in
        // the bus's queue rather than on its socket.
        processBus();
        std::uint64_t deadline = std::numeric_limits<std::uint64_t>::max();
        pollfd fds[4] = {{wakeUp_.get(), POLLIN, 0}, {clock_.get(), POLLIN, 0}, {zone_.get(), POLLIN, 0}, {-1, 0, 0}};
        if (bus_) {
            fds[3].fd = ::sd_bus_get_fd(bus_);
            fds[3].events = static_cast<short>(::sd_bus_get_events(bus_));
            if (::sd_bus_get_timeout(bus_, &deadline) < 0) deadline = std::numeric_limits<std::uint64_t>::max();
        }
        // poll skips negative descriptors: what is not watched never wakes it.
        if (::poll(fds, 4, pollTimeout(deadline)) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[0].revents != 0) break;
        // In this order, so an event already pending here is told before a
        // bus message that came later.
        if (fds[1].revents != 0) readClock();
        if (fds[2].revents != 0) readZone();
    }
}

void LinuxSystemEvents::readClock() {
    std::uint64_t expirations = 0;
    if (::read(clock_.get(), &expirations, sizeof expirations) >= 0) {
        armClock();  // a year passed unset: wait another
        return;
    }
    if (errno != ECANCELED) return;
    armClock();
    observers_.publish(SystemEvent::clockChanged);
}

void LinuxSystemEvents::readZone() {
    alignas(inotify_event) char buffer[4096];
    bool changed = false;
    for (;;) {
        const ssize_t length = ::read(zone_.get(), buffer, sizeof buffer);
        if (length <= 0) break;
        for (ssize_t offset = 0; offset < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
            offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if (event->mask & IN_Q_OVERFLOW) changed = true;  // lost events may have been ours
            if (event->len > 0 && zoneName_ == event->name) changed = true;
        }
    }
    // One replacement makes several entries; it is one change.
    if (changed) observers_.publish(SystemEvent::timeZoneChanged);
}

void LinuxSystemEvents::processBus() {
    while (bus_) {
        const int processed = ::sd_bus_process(bus_, nullptr);
        if (processed == 0) return;
        if (processed < 0) closeBus();  // the bus went away: no more wake events
    }
}

}  // namespace kelto
