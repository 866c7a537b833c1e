#include "SyncEngine/RsyncProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <deque>
#include <optional>
#include <thread>
#include <utility>

extern char** environ;

namespace kelto {
namespace {

using SteadyClock = std::chrono::steady_clock;

// Large reads keep the number of wake-ups per megabyte of listing low.
constexpr std::size_t readSize = 256 * 1024;
// Lets rsync run ahead of us while we pause or a handler is busy.
constexpr int pipeCapacity = 1024 * 1024;
// rsync writes each listing line with its own write(); waking for every one
// costs both sides more than the parsing. After a small read we pause so
// that the next read takes many lines at once.
constexpr std::size_t coalesceBelow = 64 * 1024;
constexpr auto coalesceDelay = std::chrono::milliseconds(2);
// Without a pidfd the child's exit is noticed by polling this often.
constexpr int exitPollMilliseconds = 20;

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    ~Fd() { reset(); }
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);  // a failed close changes nothing for us
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

struct Pipe {
    Fd read, write;
};

Pipe makePipe(const std::filesystem::path& executable) {
    int fds[2];
    // Close-on-exec, so no other child (of this or a concurrent run) inherits it.
    if (::pipe2(fds, O_CLOEXEC) != 0)
        throw RsyncProcessError(RsyncProcessError::Code::launchFailed, errno, executable);
    Pipe pipe;
    pipe.read.reset(fds[0]);
    pipe.write.reset(fds[1]);
    ::fcntl(fds[0], F_SETFL, ::fcntl(fds[0], F_GETFL) | O_NONBLOCK);
    ::fcntl(fds[0], F_SETPIPE_SZ, pipeCapacity);  // a refusal keeps the default size
    return pipe;
}

std::vector<std::string> childEnvironment() {
    std::vector<std::string> env;
    for (char** entry = environ; entry && *entry; ++entry) {
        const std::string_view e(*entry);
        if (e.starts_with("LC_ALL=") || e.starts_with("TZ=")) continue;
        env.emplace_back(e);
    }
    env.emplace_back("LC_ALL=C");
    env.emplace_back("TZ=UTC0");
    return env;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> result;
    result.reserve(strings.size() + 1);
    for (auto& s : strings) result.push_back(s.data());
    result.push_back(nullptr);
    return result;
}

// Owns the spawned child until it is reaped. Reaping happens last, so while
// the run lasts the child (if only as a zombie) keeps its process-group id
// from being reused and signalling the group stays safe.
class Child {
public:
    explicit Child(pid_t pid) : pid_(pid) {
        pidfd_.reset(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() {
        if (reaped_) return;
        signalGroup(SIGKILL);  // leaving early (a handler threw): take everything down
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {}
    }

    int pidfd() const { return pidfd_.get(); }
    bool hasPidfd() const { return pidfd_.valid(); }
    bool exited() const { return exited_; }

    void signalGroup(int signal) const { ::kill(-pid_, signal); }

    // Notices the exit without reaping.
    bool checkExited() {
        if (exited_) return true;
        siginfo_t info{};
        const int r = ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT);
        // ECHILD: someone else reaped it (SIGCHLD ignored), so it is gone too.
        if ((r == 0 && info.si_pid == pid_) || (r < 0 && errno == ECHILD)) exited_ = true;
        return exited_;
    }

    // Blocks until the child is gone and returns its exit status.
    std::int32_t reap() {
        int status = 0;
        pid_t r;
        while ((r = ::waitpid(pid_, &status, 0)) < 0 && errno == EINTR) {}
        reaped_ = true;
        if (r < 0) return -1;  // reaped by someone else: status unknown
        if (WIFEXITED(status)) return WEXITSTATUS(status);
        if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
        return 128;
    }

private:
    pid_t pid_;
    Fd pidfd_;
    bool exited_ = false;
    bool reaped_ = false;
};

pid_t spawn(const std::filesystem::path& executable,
            const std::vector<std::string>& arguments,
            int stdoutFd,
            int stderrFd) {
    std::vector<std::string> argStrings;
    argStrings.reserve(arguments.size() + 1);
    argStrings.push_back(executable.string());
    argStrings.insert(argStrings.end(), arguments.begin(), arguments.end());
    auto argv = pointers(argStrings);
    auto envStrings = childEnvironment();
    auto envp = pointers(envStrings);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawnattr_init(&attributes);

    ::posix_spawn_file_actions_adddup2(&actions, stdoutFd, STDOUT_FILENO);
    ::posix_spawn_file_actions_adddup2(&actions, stderrFd, STDERR_FILENO);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    // Descriptors the application opened without close-on-exec stay out too.
    ::posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
#endif

    // Own process group, so a stop reaches rsync's helper processes too;
    // no inherited blocked or ignored signals (an ignored SIGTERM or SIGPIPE
    // would survive exec).
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    sigdelset(&all, SIGKILL);
    sigdelset(&all, SIGSTOP);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    ::posix_spawnattr_setpgroup(&attributes, 0);
    ::posix_spawnattr_setsigmask(&attributes, &none);
    ::posix_spawnattr_setsigdefault(&attributes, &all);

    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, executable.c_str(), &actions, &attributes, argv.data(), envp.data());
    ::posix_spawn_file_actions_destroy(&actions);
    ::posix_spawnattr_destroy(&attributes);
    if (rc != 0) throw RsyncProcessError(RsyncProcessError::Code::launchFailed, rc, executable);
    return pid;
}

int millisecondsUntil(SteadyClock::time_point deadline, SteadyClock::time_point now) {
    if (deadline <= now) return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
    return static_cast<int>(std::min<long long>(ms, 60'000));
}

}  // namespace

RsyncExit RsyncProcess::run(const std::vector<std::string>& arguments,
                            RsyncOutputParser::Mode mode,
                            std::stop_token stop,
                            const RawLineHandler& onRawLine,
                            const EventHandler& onEvent) const {
    if (stop.stop_requested()) return RsyncExit(cancelledCode, {});

    Pipe out = makePipe(executable);
    Pipe err = makePipe(executable);
    Fd wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!wake.valid()) throw RsyncProcessError(RsyncProcessError::Code::launchFailed, errno, executable);

    Child child(spawn(executable, arguments, out.write.get(), err.write.get()));
    out.write.reset();
    err.write.reset();

    // Declared after `wake`: its destructor waits for a running callback, so
    // the descriptor outlives every write to it.
    std::stop_callback onStop(stop, [fd = wake.get()] {
        const std::uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(fd, &one, sizeof one);
    });

    RsyncOutputParser parser(mode);
    RsyncLineBuffer rawStdout;
    RsyncLineBuffer stderrLines;
    std::deque<std::string> tail;
    auto sink = [&](RsyncEvent&& event) { onEvent(std::move(event)); };
    auto stderrLine = [&](std::string_view line) {
        if (onRawLine) onRawLine(line);
        if (tail.size() == RsyncExit::tailLimit) tail.pop_front();
        tail.emplace_back(line);
        onEvent(RsyncEvent::diagnostic(std::string(line)));
    };
    auto stdoutChunk = [&](std::string_view chunk) {
        if (onRawLine) rawStdout.append(chunk, [&](std::string_view line) { onRawLine(line); });
        parser.feed(chunk, sink);
    };
    auto stdoutEnd = [&] {
        if (onRawLine)
            if (auto line = rawStdout.flush()) onRawLine(*line);
        parser.finish(sink);
    };
    auto stderrEnd = [&] {
        if (auto line = stderrLines.flush()) stderrLine(*line);
    };

    std::vector<char> buffer(readSize);
    std::size_t bytesThisRound = 0;
    // Reads what is there; false at end of stream.
    auto drain = [&](Fd& fd, auto&& onChunk) {
        const ssize_t n = ::read(fd.get(), buffer.data(), buffer.size());
        if (n > 0) {
            bytesThisRound += static_cast<std::size_t>(n);
            onChunk(std::string_view(buffer.data(), static_cast<std::size_t>(n)));
            return true;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return true;
        return false;  // end of stream, or an error that ends it just as well
    };

    bool cancelled = false;
    std::optional<SteadyClock::time_point> killAt;
    std::optional<SteadyClock::time_point> giveUpAt;

    while (out.read.valid() || err.read.valid() || !child.exited()) {
        pollfd fds[4];
        nfds_t count = 0;
        auto watch = [&](bool wanted, int fd) {
            if (!wanted) return -1;
            fds[count] = {fd, POLLIN, 0};
            return static_cast<int>(count++);
        };
        const int outIndex = watch(out.read.valid(), out.read.get());
        const int errIndex = watch(err.read.valid(), err.read.get());
        const int pidIndex = watch(!child.exited() && child.hasPidfd(), child.pidfd());
        const int wakeIndex = watch(!cancelled, wake.get());

        auto now = SteadyClock::now();
        int timeout = -1;
        auto until = [&](std::optional<SteadyClock::time_point> deadline) {
            if (!deadline) return;
            const int ms = millisecondsUntil(*deadline, now);
            timeout = timeout < 0 ? ms : std::min(timeout, ms);
        };
        until(killAt);
        until(giveUpAt);
        if (!child.exited() && !child.hasPidfd())
            timeout = timeout < 0 ? exitPollMilliseconds : std::min(timeout, exitPollMilliseconds);

        if (::poll(fds, count, timeout) < 0 && errno != EINTR)
            throw RsyncProcessError(RsyncProcessError::Code::waitFailed, errno, executable);

        bytesThisRound = 0;
        auto ready = [&](int index) { return index >= 0 && (fds[index].revents & (POLLIN | POLLHUP | POLLERR)); };

        if (ready(wakeIndex)) {
            cancelled = true;
            child.signalGroup(SIGTERM);
            killAt = SteadyClock::now() + killDelay;
        }
        if (ready(outIndex) && !drain(out.read, stdoutChunk)) {
            out.read.reset();
            stdoutEnd();
        }
        if (ready(errIndex) && !drain(err.read, [&](std::string_view chunk) { stderrLines.append(chunk, stderrLine); })) {
            err.read.reset();
            stderrEnd();
        }
        if ((pidIndex < 0 || ready(pidIndex)) && !child.exited() && child.checkExited())
            giveUpAt = SteadyClock::now() + leftoverGrace;

        if (bytesThisRound > 0 && bytesThisRound < coalesceBelow && !child.exited())
            std::this_thread::sleep_for(coalesceDelay);

        now = SteadyClock::now();
        if (killAt && now >= *killAt) {
            child.signalGroup(SIGKILL);
            killAt.reset();
        }
        if (giveUpAt && now >= *giveUpAt && (out.read.valid() || err.read.valid())) {
            // The child is gone but its pipes are still held: end the run.
            child.signalGroup(SIGKILL);
            if (out.read.valid()) {
                out.read.reset();
                stdoutEnd();
            }
            if (err.read.valid()) {
                err.read.reset();
                stderrEnd();
            }
        }
    }

    const std::int32_t status = child.reap();
    return RsyncExit(cancelled ? cancelledCode : status, std::vector<std::string>(tail.begin(), tail.end()));
}

}  // namespace kelto
