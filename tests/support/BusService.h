#pragma once

#include "SyncModel/Support/FileDescriptor.h"

#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>

#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>

namespace kelto::test {

// A connection to a test bus that answers calls on a thread of its own. The
// owner adds its objects through bus(), then start() takes the name and
// begins answering. Destruction stops the thread first, so a fake that holds
// this as its last member has its state outlive every call.
class BusService {
public:
    explicit BusService(const std::string& address);
    ~BusService();
    BusService(const BusService&) = delete;
    BusService& operator=(const BusService&) = delete;

    // Only before start(): the connection belongs to the thread afterwards.
    sd_bus* bus() const { return bus_; }
    // Takes the name, unless it is null (a peer that owns no name), and
    // begins answering.
    void start(const char* name);
    // Runs `work` with the connection on the service's thread (at once before
    // start()) and waits for it; what it throws is rethrown here.
    void perform(std::function<void(sd_bus*)> work);

private:
    struct Work {
        std::function<void(sd_bus*)> work;
        std::promise<void> done;
    };
    static int runWork(sd_event_source* source, int fd, std::uint32_t events, void* userdata);

    sd_bus* bus_ = nullptr;
    sd_event* event_ = nullptr;
    FileDescriptor stop_;
    FileDescriptor workPosted_;
    std::mutex mutex_;
    std::deque<Work> work_;
    std::thread thread_;
};

}  // namespace kelto::test
