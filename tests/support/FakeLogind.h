#pragma once

#include "SyncModel/Support/FileDescriptor.h"
#include "tests/support/BusService.h"

#include <chrono>
#include <mutex>
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

    explicit FakeLogind(const std::string& address, bool ownsName = true);

    // Answers Inhibit with an access-denied error.
    void refuse(bool refusing = true);
    std::vector<InhibitCall> calls() const;
    // Inhibitions handed out so far.
    std::size_t granted() const;
    // The inhibition handed out by the index-th granted call has been let go.
    bool released(std::size_t index) const { return waitForRelease(index, std::chrono::milliseconds(0)); }
    // Waits up to the timeout for the hang-up (the bus daemon may hold a copy a moment longer).
    bool waitForRelease(std::size_t index, std::chrono::milliseconds timeout) const;

    // Sends PrepareForSleep and waits until it is written to the bus.
    void prepareForSleep(bool sleeping);

private:
    static int inhibit(sd_bus_message* message, void* userdata, sd_bus_error* error);

    mutable std::mutex lock_;
    bool refusing_ = false;
    std::vector<InhibitCall> calls_;
    std::vector<FileDescriptor> kept_;
    BusService service_;  // last: stops answering before the state goes
};

}  // namespace kelto::test
