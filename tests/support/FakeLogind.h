#pragma once

#include "SyncModel/Support/FileDescriptor.h"
#include "tests/support/BusService.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace kelto::test {

// org.freedesktop.login1 on a test bus: Inhibit hands out a pipe's write end and watches for its hang-up; PrepareForSleep on request; without the name, an impostor.
class FakeLogind {
public:
    struct InhibitCall {
        std::string what, who, why, mode;
        friend bool operator==(const InhibitCall&, const InhibitCall&) = default;
    };

    explicit FakeLogind(const std::string& address, bool ownsName = true) : service_(address) {
        static const sd_bus_vtable managerVtable[] = {
            SD_BUS_VTABLE_START(0),
            SD_BUS_METHOD("Inhibit", "ssss", "h", &FakeLogind::inhibit, SD_BUS_VTABLE_UNPRIVILEGED),
            SD_BUS_VTABLE_END,
        };
        if (sd_bus_add_object_vtable(service_.bus(), nullptr, "/org/freedesktop/login1",
                                     "org.freedesktop.login1.Manager", managerVtable, this) < 0)
            throw std::runtime_error("cannot add the login manager object");
        service_.start(ownsName ? "org.freedesktop.login1" : nullptr);
    }

    // Answers Inhibit with an access-denied error.
    void refuse(bool refusing = true) {
        const std::lock_guard guard(lock_);
        refusing_ = refusing;
    }
    std::vector<InhibitCall> calls() const {
        const std::lock_guard guard(lock_);
        return calls_;
    }
    // Inhibitions handed out so far.
    std::size_t granted() const {
        const std::lock_guard guard(lock_);
        return kept_.size();
    }
    // The inhibition handed out by the index-th granted call has been let go.
    bool released(std::size_t index) const { return waitForRelease(index, std::chrono::milliseconds(0)); }
    // Waits up to the timeout for the hang-up (the bus daemon may hold a copy a moment longer).
    bool waitForRelease(std::size_t index, std::chrono::milliseconds timeout) const {
        int end = -1;
        {
            const std::lock_guard guard(lock_);
            if (index >= kept_.size()) return false;
            end = kept_[index].get();  // kept until the fake goes
        }
        pollfd p{end, 0, 0};
        int ready;
        do ready = ::poll(&p, 1, static_cast<int>(timeout.count()));
        while (ready < 0 && errno == EINTR);
        return ready == 1 && (p.revents & POLLHUP);
    }

    // Sends PrepareForSleep and waits until it is written to the bus.
    void prepareForSleep(bool sleeping) {
        service_.perform([sleeping](sd_bus* bus) {
            if (sd_bus_emit_signal(bus, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                                   "PrepareForSleep", "b", static_cast<int>(sleeping)) < 0 ||
                sd_bus_flush(bus) < 0)
                throw std::runtime_error("cannot send PrepareForSleep");
        });
    }

private:
    static int inhibit(sd_bus_message* message, void* userdata, sd_bus_error*) {
        auto& self = *static_cast<FakeLogind*>(userdata);
        const char *what, *who, *why, *mode;
        if (const int r = sd_bus_message_read(message, "ssss", &what, &who, &why, &mode); r < 0) return r;
        std::unique_lock guard(self.lock_);
        self.calls_.push_back({what, who, why, mode});
        if (self.refusing_)
            return sd_bus_reply_method_errorf(message, SD_BUS_ERROR_ACCESS_DENIED, "Permission denied");
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) return -errno;
        self.kept_.emplace_back(ends[0]);
        guard.unlock();
        // The reply takes a copy of the write end; the caller's copy is then the only one left.
        const FileDescriptor handedOut(ends[1]);
        return sd_bus_reply_method_return(message, "h", handedOut.get());
    }

    mutable std::mutex lock_;
    bool refusing_ = false;
    std::vector<InhibitCall> calls_;
    std::vector<FileDescriptor> kept_;
    BusService service_;  // last: stops answering before the state goes
};

}  // namespace kelto::test
