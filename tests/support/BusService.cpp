#include "tests/support/BusService.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>

#include <cstdint>
#include <cstring>
#include <stdexcept>

namespace kelto::test {

namespace {

void check(int result, const char* what) {
    if (result < 0) throw std::runtime_error(std::string(what) + ": " + std::strerror(-result));
}

}  // namespace

BusService::BusService(const std::string& address) : stop_(::eventfd(0, EFD_CLOEXEC)) {
    if (!stop_.valid()) throw std::runtime_error("cannot make an eventfd");
    check(sd_bus_new(&bus_), "sd_bus_new");
    check(sd_bus_set_address(bus_, address.c_str()), "sd_bus_set_address");
    check(sd_bus_set_bus_client(bus_, 1), "sd_bus_set_bus_client");
    check(sd_bus_start(bus_), "sd_bus_start");
    check(sd_event_new(&event_), "sd_event_new");
    check(sd_bus_attach_event(bus_, event_, 0), "sd_bus_attach_event");
    check(sd_event_add_io(
              event_, nullptr, stop_.get(), EPOLLIN,
              [](sd_event_source* source, int, std::uint32_t, void*) {
                  return sd_event_exit(sd_event_source_get_event(source), 0);
              },
              nullptr),
          "sd_event_add_io");
}

BusService::~BusService() {
    if (thread_.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(stop_.get(), &one, sizeof one);
        thread_.join();
    }
    if (bus_) {
        sd_bus_detach_event(bus_);
        sd_bus_flush_close_unref(bus_);
    }
    if (event_) sd_event_unref(event_);
}

void BusService::start(const char* name) {
    // Taken before the first caller can look for it.
    check(sd_bus_request_name(bus_, name, 0), "sd_bus_request_name");
    thread_ = std::thread([event = event_] { sd_event_loop(event); });
}

}  // namespace kelto::test
