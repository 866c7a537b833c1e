#pragma once

#include <systemd/sd-bus.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

// Owners for sd-bus handles and the system bus connection the platform side
// opens for each request: requests are rare, a stale connection is not.
namespace kelto::SdBus {

struct BusClose {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
struct MessageUnref {
    void operator()(sd_bus_message* message) const { sd_bus_message_unref(message); }
};
using Bus = std::unique_ptr<sd_bus, BusClose>;
using Message = std::unique_ptr<sd_bus_message, MessageUnref>;

// An sd_bus_error freed when it goes away.
class Error {
public:
    Error() = default;
    ~Error() { sd_bus_error_free(&error_); }
    Error(const Error&) = delete;
    Error& operator=(const Error&) = delete;

    sd_bus_error* get() { return &error_; }
    bool hasName(const char* name) const { return sd_bus_error_has_name(&error_, name); }
    // The service's own message where it sent one, else what the failure code says.
    std::string describe(int result) const {
        if (error_.message && *error_.message) return error_.message;
        if (error_.name && *error_.name) return error_.name;
        return std::strerror(result < 0 ? -result : result);
    }

private:
    sd_bus_error error_ = SD_BUS_ERROR_NULL;
};

// The system bus (DBUS_SYSTEM_BUS_ADDRESS when set), or nothing when there
// is none to connect to.
inline Bus openSystem(std::uint64_t methodCallTimeoutMicroseconds) {
    sd_bus* bus = nullptr;
    if (sd_bus_open_system(&bus) < 0) return nullptr;
    Bus owned(bus);
    sd_bus_set_method_call_timeout(bus, methodCallTimeoutMicroseconds);
    return owned;
}

}  // namespace kelto::SdBus
