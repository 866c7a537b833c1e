#pragma once

#include "SyncModel/Support/FileDescriptor.h"
#include "tests/support/TemporaryFolder.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace kelto::test {

// Points the process's system bus at another address while it lives.
class SystemBusAddress {
public:
    explicit SystemBusAddress(const std::string& address) {
        if (const char* previous = std::getenv(variable)) previous_ = previous;
        ::setenv(variable, address.c_str(), 1);
    }
    ~SystemBusAddress() {
        if (previous_)
            ::setenv(variable, previous_->c_str(), 1);
        else
            ::unsetenv(variable);
    }
    SystemBusAddress(const SystemBusAddress&) = delete;
    SystemBusAddress& operator=(const SystemBusAddress&) = delete;

private:
    static constexpr const char* variable = "DBUS_SYSTEM_BUS_ADDRESS";
    std::optional<std::string> previous_;
};

// A dbus-daemon of the test's own standing in for the system bus; running() false and reason() when it cannot start.
class PrivateBus {
public:
    PrivateBus() {
        const auto config = folder_ / "bus.conf";
        std::ofstream(config) << R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=)" << (folder_ / "socket").native()
                          << R"(</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*"/>
    <allow receive_sender="*"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) {
            reason_ = std::string("cannot make a pipe: ") + std::strerror(errno);
            return;
        }
        output_.reset(ends[0]);
        FileDescriptor write(ends[1]);
        std::vector<std::string> arguments{"dbus-daemon", "--config-file=" + config.native(), "--nofork",
                                           "--print-address"};
        std::vector<char*> argv;
        for (auto& a : arguments) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, write.get(), STDOUT_FILENO);
        // Its complaints (such as a refused fd limit as root) are shown when it does not start.
        const auto log = folder_ / "daemon.log";
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int rc = ::posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        write.reset();
        if (rc != 0) {
            pid_ = -1;
            reason_ = rc == ENOENT ? "dbus-daemon is not installed"
                                   : std::string("cannot start dbus-daemon: ") + std::strerror(rc);
            return;
        }
        std::string printed;
        while (printed.find('\n') == std::string::npos) {
            pollfd p{output_.get(), POLLIN, 0};
            const int ready = ::poll(&p, 1, startTimeoutMilliseconds);
            if (ready < 0 && errno == EINTR) continue;
            char buffer[256];
            const ssize_t n = ready == 1 ? ::read(output_.get(), buffer, sizeof buffer) : 0;
            if (n <= 0) {
                stop();
                reason_ = "dbus-daemon did not start: " + readFile(log);
                return;
            }
            printed.append(buffer, static_cast<std::size_t>(n));
        }
        address_ = printed.substr(0, printed.find('\n'));
        systemBus_.emplace(address_);
    }
    ~PrivateBus() {
        systemBus_.reset();
        stop();
    }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    bool running() const { return pid_ > 0; }
    const std::string& reason() const { return reason_; }
    const std::string& address() const { return address_; }
    // Ends the daemon early, as when the bus goes away under its clients.
    void stop() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    // Long enough for a loaded machine; the daemon normally answers at once.
    static constexpr int startTimeoutMilliseconds = 10'000;
    TemporaryFolder folder_;
    pid_t pid_ = -1;
    FileDescriptor output_;
    std::string address_;
    std::string reason_;
    std::optional<SystemBusAddress> systemBus_;
};

}  // namespace kelto::test
