#pragma once

#include "SyncModel/Support/FileDescriptor.h"

#include <systemd/sd-bus.h>
#include <systemd/sd-event.h>

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
    void start(const char* name);

private:
    sd_bus* bus_ = nullptr;
    sd_event* event_ = nullptr;
    FileDescriptor stop_;
    std::thread thread_;
};

}  // namespace kelto::test
