#include "tests/support/FakeLogind.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace kelto::test {

FakeLogind::FakeLogind(const std::string& address, bool ownsName) : service_(address) {
    static const sd_bus_vtable managerVtable[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_METHOD("Inhibit", "ssss", "h", &FakeLogind::inhibit, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_VTABLE_END,
    };
    if (sd_bus_add_object_vtable(service_.bus(), nullptr, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                                 managerVtable, this) < 0)
        throw std::runtime_error("cannot add the login manager object");
    service_.start(ownsName ? "org.freedesktop.login1" : nullptr);
}

void FakeLogind::prepareForSleep(bool sleeping) {
    service_.perform([sleeping](sd_bus* bus) {
        if (sd_bus_emit_signal(bus, "/org/freedesktop/login1", "org.freedesktop.login1.Manager", "PrepareForSleep",
                               "b", static_cast<int>(sleeping)) < 0 ||
            sd_bus_flush(bus) < 0)
            throw std::runtime_error("cannot send PrepareForSleep");
    });
}

void FakeLogind::refuse(bool refusing) {
    const std::lock_guard guard(lock_);
    refusing_ = refusing;
}

std::vector<FakeLogind::InhibitCall> FakeLogind::calls() const {
    const std::lock_guard guard(lock_);
    return calls_;
}

std::size_t FakeLogind::granted() const {
    const std::lock_guard guard(lock_);
    return kept_.size();
}

bool FakeLogind::waitForRelease(std::size_t index, std::chrono::milliseconds timeout) const {
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

int FakeLogind::inhibit(sd_bus_message* message, void* userdata, sd_bus_error*) {
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

}  // namespace kelto::test
