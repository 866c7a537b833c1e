#pragma once

#include "SyncModel/Support/FileDescriptor.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <deque>
#include <exception>
#include <functional>
#include <future>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

namespace kelto::test {

// Answers calls on a thread of its own. Destruction stops the thread first, so a fake that holds this as its last
// member has its state outlive every call.
class BusService {
public:
    explicit BusService(const std::string& address)
        : stop_(::eventfd(0, EFD_CLOEXEC)), workPosted_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
        if (!stop_.valid() || !workPosted_.valid()) throw std::runtime_error("cannot make an eventfd");
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
        check(sd_event_add_io(event_, nullptr, workPosted_.get(), EPOLLIN, &BusService::runWork, this),
              "sd_event_add_io");
    }
    ~BusService() {
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
    BusService(const BusService&) = delete;
    BusService& operator=(const BusService&) = delete;

    // Only before start(): the connection belongs to the thread afterwards.
    sd_bus* bus() const { return bus_; }
    // Takes the name, unless it is null (a peer that owns no name), and begins answering.
    void start(const char* name) {
        if (name) check(sd_bus_request_name(bus_, name, 0), "sd_bus_request_name");
        thread_ = std::thread([event = event_] { sd_event_loop(event); });
    }
    // Runs `work` on the service's thread (at once before start()); what it throws is rethrown here.
    void perform(std::function<void(sd_bus*)> work) {
        if (!thread_.joinable()) {
            work(bus_);
            return;
        }
        std::future<void> done;
        {
            const std::lock_guard lock(mutex_);
            Work& posted = work_.emplace_back(Work{std::move(work), {}});
            done = posted.done.get_future();
        }
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(workPosted_.get(), &one, sizeof one);
        done.get();
    }

private:
    struct Work {
        std::function<void(sd_bus*)> work;
        std::promise<void> done;
    };
    static void check(int result, const char* what) {
        if (result < 0) throw std::runtime_error(std::string(what) + ": " + std::strerror(-result));
    }
    static int runWork(sd_event_source*, int fd, std::uint32_t, void* userdata) {
        auto& self = *static_cast<BusService*>(userdata);
        std::uint64_t count = 0;
        [[maybe_unused]] const auto read = ::read(fd, &count, sizeof count);
        for (;;) {
            Work next;
            {
                const std::lock_guard lock(self.mutex_);
                if (self.work_.empty()) return 0;
                next = std::move(self.work_.front());
                self.work_.pop_front();
            }
            try {
                next.work(self.bus_);
                next.done.set_value();
            } catch (...) {
                next.done.set_exception(std::current_exception());
            }
        }
    }

    sd_bus* bus_ = nullptr;
    sd_event* event_ = nullptr;
    FileDescriptor stop_;
    FileDescriptor workPosted_;
    std::mutex mutex_;
    std::deque<Work> work_;
    std::thread thread_;
};

}  // namespace kelto::test
