#include "Platform/System/LogindSleepInhibitor.h"

#include "Platform/System/internal/SdBus.h"

#include <fcntl.h>

#include <string>

namespace kelto {

std::optional<FileDescriptor> LogindSleepInhibitor::take(std::string_view reason) noexcept {
    try {
        const auto bus = SdBus::openSystem(std::chrono::microseconds(callTimeout).count());
        if (!bus) return std::nullopt;
        const std::string why(reason);
        SdBus::Error error;
        sd_bus_message* reply = nullptr;
        if (sd_bus_call_method(bus.get(), "org.freedesktop.login1", "/org/freedesktop/login1",
                               "org.freedesktop.login1.Manager", "Inhibit", error.get(), &reply, "ssss",
                               "sleep:idle", "Kelto Sync", why.c_str(), "block") < 0)
            return std::nullopt;
        const SdBus::Message owned(reply);
        int fd = -1;
        if (sd_bus_message_read(reply, "h", &fd) < 0) return std::nullopt;
        // The message closes its own descriptor when freed.
        FileDescriptor held(::fcntl(fd, F_DUPFD_CLOEXEC, 3));
        if (!held.valid()) return std::nullopt;
        return held;
    } catch (...) {
        return std::nullopt;
    }
}

}  // namespace kelto
