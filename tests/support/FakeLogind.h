#pragma once

#include "tests/support/BusService.h"
#include "tests/support/FakeSleepInhibitor.h"

#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace kelto::test {

// org.freedesktop.login1 on a test bus: Inhibit hands out a FakeSleepInhibitor's descriptors; PrepareForSleep on
// request; without the name, an impostor.
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
    void refuse() { inhibitions_.refuse(); }
    std::vector<InhibitCall> calls() const {
        const std::lock_guard guard(lock_);
        return calls_;
    }
    // The bus daemon may hold a copy of the descriptor a moment longer: wait for it.
    bool released(std::size_t index, std::chrono::milliseconds wait = {}) const {
        return inhibitions_.released(index, wait);
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
        {
            const std::lock_guard guard(self.lock_);
            self.calls_.push_back({what, who, why, mode});
        }
        // The reply takes a copy of the write end; the caller's copy is then the only one left.
        const std::optional<FileDescriptor> handedOut = self.inhibitions_.take(why);
        if (!handedOut) return sd_bus_reply_method_errorf(message, SD_BUS_ERROR_ACCESS_DENIED, "Permission denied");
        return sd_bus_reply_method_return(message, "h", handedOut->get());
    }

    mutable std::mutex lock_;
    std::vector<InhibitCall> calls_;
    FakeSleepInhibitor inhibitions_;
    BusService service_;  // last: stops answering before the state goes
};

}  // namespace kelto::test
