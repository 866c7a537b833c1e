#pragma once

#include "SyncModel/Support/FileDescriptor.h"
#include "tests/support/TemporaryFolder.h"

#include <sys/types.h>

#include <optional>
#include <string>

namespace kelto::test {

// Points the process's system bus at another address while it lives.
class SystemBusAddress {
public:
    explicit SystemBusAddress(const std::string& address);
    ~SystemBusAddress();
    SystemBusAddress(const SystemBusAddress&) = delete;
    SystemBusAddress& operator=(const SystemBusAddress&) = delete;

private:
    std::optional<std::string> previous_;
};

// A dbus-daemon of the test's own standing in for the system bus; running() false and reason() when it cannot start.
class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    bool running() const { return pid_ > 0; }
    const std::string& reason() const { return reason_; }
    const std::string& address() const { return address_; }
    // Ends the daemon early, as when the bus goes away under its clients.
    void stop();

private:
    TemporaryFolder folder_;
    pid_t pid_ = -1;
    FileDescriptor output_;
    std::string address_;
    std::string reason_;
    std::optional<SystemBusAddress> systemBus_;
};

}  // namespace kelto::test
