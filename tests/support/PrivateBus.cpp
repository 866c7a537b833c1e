#include "tests/support/PrivateBus.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

extern char** environ;

namespace kelto::test {

namespace {

constexpr const char* variable = "DBUS_SYSTEM_BUS_ADDRESS";
// Long enough for a loaded machine; the daemon normally answers at once.
constexpr int startTimeoutMilliseconds = 10'000;

}  // namespace

SystemBusAddress::SystemBusAddress(const std::string& address) {
    if (const char* previous = std::getenv(variable)) previous_ = previous;
    ::setenv(variable, address.c_str(), 1);
}

SystemBusAddress::~SystemBusAddress() {
    if (previous_)
        ::setenv(variable, previous_->c_str(), 1);
    else
        ::unsetenv(variable);
}

PrivateBus::PrivateBus() {
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
    // Its complaints (such as a refused fd limit when run as root) go to a
    // file of its own, shown when it does not start.
    const auto log = folder_ / "daemon.log";
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int rc = ::posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    write.reset();
    if (rc != 0) {
        pid_ = -1;
        reason_ = rc == ENOENT ? "dbus-daemon is not installed" : std::string("cannot start dbus-daemon: ") + std::strerror(rc);
        return;
    }
    // The daemon prints its address once it listens.
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

PrivateBus::~PrivateBus() {
    systemBus_.reset();
    stop();
}

void PrivateBus::stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

}  // namespace kelto::test
