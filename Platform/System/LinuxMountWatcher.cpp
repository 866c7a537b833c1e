#include "Platform/System/LinuxMountWatcher.h"

#include <libmount.h>
#include <poll.h>
#include <sys/eventfd.h>

#include <cerrno>
#include <cstdint>

namespace kelto {

LinuxMountWatcher::LinuxMountWatcher() : wakeUp_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    monitor_ = mnt_new_monitor();
    if (monitor_ && (mnt_monitor_enable_kernel(monitor_, 1) != 0 || mnt_monitor_get_fd(monitor_) < 0)) {
        mnt_unref_monitor(monitor_);
        monitor_ = nullptr;
    }
}

LinuxMountWatcher::~LinuxMountWatcher() {
    if (monitor_) mnt_unref_monitor(monitor_);
}

bool LinuxMountWatcher::wait(std::stop_token stop) {
    const std::stop_callback wake(stop, [this] {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(wakeUp_.get(), &one, sizeof one);
    });
    // Without a way to wake it, or anything to watch, waiting could never end.
    if (!wakeUp_.valid() || !monitor_) return false;
    pollfd fds[2] = {{wakeUp_.get(), POLLIN, 0}, {mnt_monitor_get_fd(monitor_), POLLIN, 0}};
    while (!stop.stop_requested()) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (fds[0].revents != 0) break;
        if (fds[1].revents != 0) {
            // Drain what the monitor queued, so the next wait blocks again.
            while (mnt_monitor_next_change(monitor_, nullptr, nullptr) == 0) {
            }
            if (!stop.stop_requested()) return true;
            break;  // the stop came too: its wake-up is read below
        }
    }
    std::uint64_t count = 0;
    [[maybe_unused]] const auto read = ::read(wakeUp_.get(), &count, sizeof count);
    return false;
}

}  // namespace kelto
