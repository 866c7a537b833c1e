#include "SyncEngine/RsyncProcess.h"

#include "SyncModel/Support/SafeFileSystem.h"

#include "SyncEngine/RsyncOutputDelivery.h"

#include "SyncModel/Support/FileDescriptor.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
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

using Fd = FileDescriptor;

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

    // Blocks until the child is gone and returns its wait status; nullopt
    // when someone else reaped it.
    std::optional<int> reap() {
        int status = 0;
        pid_t r;
        while ((r = ::waitpid(pid_, &status, 0)) < 0 && errno == EINTR) {}
        reaped_ = true;
        if (r < 0) return std::nullopt;
        return status;
    }

private:
    pid_t pid_;
    Fd pidfd_;
    bool exited_ = false;
    bool reaped_ = false;
};

// Forked rather than posix_spawn()ed: rsync must die with this process. One
// left running by a crash or a kill went on writing into the destination
// unwatched, while the next run recovered and planned the same folder.
// A folder the child is handed open: at this descriptor, which every one of
// its processes reaches as /proc/self/fd/3 (a path to this process's own
// descriptor breaks in a PID namespace whose /proc is not its own).
constexpr int inheritedFolder = 3;

pid_t spawn(const std::filesystem::path& executable,
            const std::vector<std::string>& arguments,
            int stdoutFd,
            int stderrFd,
            int workingFolder,
            int inherited) {
    std::vector<std::string> argStrings;
    argStrings.reserve(arguments.size() + 1);
    argStrings.push_back(executable.string());
    argStrings.insert(argStrings.end(), arguments.begin(), arguments.end());
    auto argv = pointers(argStrings);
    auto envStrings = childEnvironment();
    auto envp = pointers(envStrings);

    // The child tells why it could not start through this pipe; exec closes it.
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0)
        throw RsyncProcessError(RsyncProcessError::Code::launchFailed, errno, executable);
    Fd reportRead(report[0]), reportWrite(report[1]);

    // No handler of this process may run in the child before exec.
    sigset_t none, all, old;
    sigemptyset(&none);
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &old);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Only async-signal-safe calls until exec.
        int reportFd = report[1];
        auto fail = [&] {
            const int error = errno;
            [[maybe_unused]] auto n = ::write(reportFd, &error, sizeof error);
            ::_exit(127);
        };
        // Own process group, so a stop reaches rsync's helper processes too;
        // killed with this process (its helpers then lose their connection).
        if (::setpgid(0, 0) != 0 || ::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) fail();
        if (::getppid() != parent) ::_exit(127);
        // A descriptor handed on may sit at a standard one (this process was
        // started without them): it moves above them first, or the pipes put
        // there would stand in its place.
        for (int* handed : {&stdoutFd, &stderrFd, &workingFolder, &inherited, &reportFd})
            if (*handed >= 0 && *handed <= STDERR_FILENO &&
                (*handed = ::fcntl(*handed, F_DUPFD_CLOEXEC, STDERR_FILENO + 1)) < 0)
                fail();
        if (::dup2(stdoutFd, STDOUT_FILENO) < 0 || ::dup2(stderrFd, STDERR_FILENO) < 0) fail();
        if (workingFolder >= 0 && ::fchdir(workingFolder) != 0) fail();
        if (inherited >= 0) {
            if (reportFd <= inheritedFolder && (reportFd = ::fcntl(reportFd, F_DUPFD_CLOEXEC, inheritedFolder + 1)) < 0)
                fail();
            // dup2 onto itself would leave close-on-exec set.
            if (inherited == inheritedFolder ? ::fcntl(inherited, F_SETFD, 0) != 0
                                             : ::dup2(inherited, inheritedFolder) < 0)
                fail();
        }
        // No inherited ignored signals (an ignored SIGTERM or SIGPIPE would
        // survive exec), none blocked, and no descriptor of this process but
        // the report, which exec closes.
        struct sigaction plain {};
        plain.sa_handler = SIG_DFL;
        for (int signal = 1; signal < NSIG; ++signal)
            if (signal != SIGKILL && signal != SIGSTOP) ::sigaction(signal, &plain, nullptr);
        const int firstClosed = inherited >= 0 ? inheritedFolder + 1 : STDERR_FILENO + 1;
        if (reportFd > firstClosed)
            ::close_range(static_cast<unsigned>(firstClosed), static_cast<unsigned>(reportFd) - 1, 0);
        ::close_range(static_cast<unsigned>(reportFd) + 1, ~0U, 0);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execve(executable.c_str(), argv.data(), envp.data());
        fail();
    }
    const int forkError = errno;
    ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
    if (pid < 0) throw RsyncProcessError(RsyncProcessError::Code::launchFailed, forkError, executable);

    reportWrite.reset();
    int error = 0;
    ssize_t n;
    while ((n = ::read(reportRead.get(), &error, sizeof error)) < 0 && errno == EINTR) {}
    if (n > 0) {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
        throw RsyncProcessError(RsyncProcessError::Code::launchFailed, error, executable);
    }
    return pid;
}

int millisecondsUntil(SteadyClock::time_point deadline, SteadyClock::time_point now) {
    if (deadline <= now) return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
    return static_cast<int>(std::min<long long>(ms, 60'000));
}

// Turns a stop request into a readable wake-up descriptor for poll().
struct WakeOnStop {
    int fd;
    void operator()() const noexcept {
        const std::uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(fd, &one, sizeof one);
    }
};

// What one round waits for: the descriptors still of interest, where each
// sits in the poll set (-1 when left out), and how long to wait.
struct PollSet {
    pollfd fds[4];
    nfds_t count = 0;
    int out = -1, err = -1, pid = -1, wake = -1;
    int timeout = -1;  // milliseconds; -1 for no limit

    int add(bool wanted, int fd) {
        if (!wanted) return -1;
        fds[count] = {fd, POLLIN, 0};
        return static_cast<int>(count++);
    }
    void limit(int milliseconds) { timeout = timeout < 0 ? milliseconds : std::min(timeout, milliseconds); }
    bool ready(int index) const { return index >= 0 && (fds[index].revents & (POLLIN | POLLHUP | POLLERR)); }
};

// One child run, from launch to reaping. Each round of perform() watches the
// pipes, the child and the stop; drains what is readable into the handlers;
// cancels on a stop (SIGTERM, then SIGKILL after killDelay); notices the
// exit; and abandons pipes that something left behind still holds once the
// grace after the exit is over.
class ProcessRun {
public:
    enum class Stream { out, err };

    ProcessRun(const std::filesystem::path& executable, RsyncOutputParser::Mode mode,
               const RsyncRunner::RawLineHandler& onRawLine, const RsyncRunner::EventHandler& onEvent)
        : executable_(executable), delivery_(mode, onRawLine, onEvent) {}

    ProcessRun(const ProcessRun&) = delete;
    ProcessRun& operator=(const ProcessRun&) = delete;

    void nameAs(std::string through, std::string shown) { delivery_.nameAs(std::move(through), std::move(shown)); }

    // Starts the child; from then on a stop of the token reaches it.
    void launch(const std::vector<std::string>& arguments, std::stop_token stop, int workingFolder = -1,
                int inherited = -1) {
        out_ = makePipe(executable_);
        err_ = makePipe(executable_);
        wake_.reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
        if (!wake_.valid()) throw RsyncProcessError(RsyncProcessError::Code::launchFailed, errno, executable_);

        child_.emplace(spawn(executable_, arguments, out_.write.get(), err_.write.get(), workingFolder, inherited));
        out_.write.reset();
        err_.write.reset();
        onStop_.emplace(std::move(stop), WakeOnStop{wake_.get()});
    }

    // Runs rounds until the child has exited and both pipes are closed, then reaps it.
    RsyncExit perform() {
        while (out_.read.valid() || err_.read.valid() || !child_->exited()) {
            PollSet set = watch();
            if (::poll(set.fds, set.count, set.timeout) < 0 && errno != EINTR)
                throw RsyncProcessError(RsyncProcessError::Code::waitFailed, errno, executable_);

            bytesThisRound_ = 0;
            if (set.ready(set.wake)) cancel();
            if (set.ready(set.out)) drain(Stream::out);
            if (set.ready(set.err)) drain(Stream::err);
            if (set.pid < 0 || set.ready(set.pid)) noticeExit();

            if (bytesThisRound_ > 0 && bytesThisRound_ < coalesceBelow && !child_->exited())
                std::this_thread::sleep_for(coalesceDelay);

            const auto now = SteadyClock::now();
            if (killAt_ && now >= *killAt_) killOverdue();
            if (giveUpAt_ && now >= *giveUpAt_ && (out_.read.valid() || err_.read.valid())) abandonLeftovers();
        }
        return reap();
    }

private:
    // Watching: the open pipes, the child's exit (by pidfd, or by polling
    // every exitPollMilliseconds without one), the stop until it came, and
    // the nearest deadline.
    PollSet watch() const {
        PollSet set;
        set.out = set.add(out_.read.valid(), out_.read.get());
        set.err = set.add(err_.read.valid(), err_.read.get());
        set.pid = set.add(!child_->exited() && child_->hasPidfd(), child_->pidfd());
        set.wake = set.add(!cancelled_, wake_.get());

        const auto now = SteadyClock::now();
        for (const auto& deadline : {killAt_, giveUpAt_})
            if (deadline) set.limit(millisecondsUntil(*deadline, now));
        if (!child_->exited() && !child_->hasPidfd()) set.limit(exitPollMilliseconds);
        return set;
    }

    // Draining: reads what the pipe holds into the handlers; at the end of
    // the stream (or an error, which ends it just as well) closes it.
    void drain(Stream stream) {
        Fd& fd = stream == Stream::out ? out_.read : err_.read;
        const ssize_t n = ::read(fd.get(), buffer_.data(), buffer_.size());
        if (n > 0) {
            bytesThisRound_ += static_cast<std::size_t>(n);
            const std::string_view chunk(buffer_.data(), static_cast<std::size_t>(n));
            if (stream == Stream::out)
                delivery_.stdoutChunk(chunk);
            else
                delivery_.stderrChunk(chunk);
            return;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
        endStream(stream);
    }

    void endStream(Stream stream) {
        if (stream == Stream::out) {
            out_.read.reset();
            delivery_.stdoutEnd();
        } else {
            err_.read.reset();
            delivery_.stderrEnd();
        }
    }

    // Cancelling: SIGTERM at once, SIGKILL when killDelay has passed.
    void cancel() {
        cancelled_ = true;
        child_->signalGroup(SIGTERM);
        killAt_ = SteadyClock::now() + RsyncProcess::killDelay;
    }

    void killOverdue() {
        child_->signalGroup(SIGKILL);
        killAt_.reset();
    }

    // The exit, noticed without reaping, starts the grace for leftovers.
    void noticeExit() {
        if (!child_->exited() && child_->checkExited()) giveUpAt_ = SteadyClock::now() + RsyncProcess::leftoverGrace;
    }

    // The child is gone but its pipes are still held: end the run, and say
    // so, since output may have been lost.
    void abandonLeftovers() {
        child_->signalGroup(SIGKILL);
        delivery_.stderrLine("Output abandoned: a process left behind by rsync still held its output open");
        if (out_.read.valid()) endStream(Stream::out);
        if (err_.read.valid()) endStream(Stream::err);
    }

    RsyncExit reap() {
        const std::optional<int> status = child_->reap();
        if (cancelled_) return RsyncExit(RsyncRunner::cancelledCode, delivery_.tail());
        if (status && WIFEXITED(*status)) return RsyncExit(WEXITSTATUS(*status), delivery_.tail());
        // An end rsync did not choose leaves no words of its own: say what happened.
        const std::int32_t code = status && WIFSIGNALED(*status) ? 128 + WTERMSIG(*status) : status ? 128 : -1;
        delivery_.stderrLine(RsyncProcess::abnormalEndLine(code));
        return RsyncExit(code, delivery_.tail());
    }

    const std::filesystem::path& executable_;

    // Destroyed in reverse: the stop callback first (its destructor waits for
    // a running callback, so the descriptor outlives every write to it), then
    // the child (killed and reaped unless reaped already), then the descriptors.
    Pipe out_, err_;
    Fd wake_;
    std::optional<Child> child_;
    std::optional<std::stop_callback<WakeOnStop>> onStop_;

    RsyncOutputDelivery delivery_;
    std::vector<char> buffer_ = std::vector<char>(readSize);
    std::size_t bytesThisRound_ = 0;

    bool cancelled_ = false;
    std::optional<SteadyClock::time_point> killAt_;
    std::optional<SteadyClock::time_point> giveUpAt_;
};

}  // namespace

std::string RsyncProcess::abnormalEndLine(std::int32_t code) {
    if (code > 128 && code < 128 + NSIG) {
        const int signal = code - 128;
        const char* name = ::sigabbrev_np(signal);
        const char* description = ::sigdescr_np(signal);
        std::string line = "rsync was stopped before it finished: it received the signal " +
                           (name ? "SIG" + std::string(name) : std::to_string(signal));
        return description ? line + " (" + description + ")" : line;
    }
    return "rsync ended unexpectedly, and how it ended is not known";
}

RsyncExit RsyncProcess::run(const std::vector<std::string>& arguments,
                            RsyncOutputParser::Mode mode,
                            std::stop_token stop,
                            const RawLineHandler& onRawLine,
                            const EventHandler& onEvent) const {
    if (stop.stop_requested()) return RsyncExit(cancelledCode, {});
    ProcessRun run(executable, mode, onRawLine, onEvent);
    run.launch(arguments, std::move(stop));
    return run.perform();
}

RsyncExit RsyncProcess::runBetween(int source, int destination, const std::vector<std::string>& arguments,
                                   RsyncOutputParser::Mode mode, std::stop_token stop,
                                   const RawLineHandler& onRawLine, const EventHandler& onEvent) const {
    if (stop.stop_requested()) return RsyncExit(cancelledCode, {});
    if (arguments.size() < 2 || source < 0 || destination < 0)
        throw RsyncProcessError(RsyncProcessError::Code::launchFailed, EINVAL, executable);
    const std::string sourcePath = SafeFileSystem::throughDescriptor(inheritedFolder).native() + "/";
    std::vector<std::string> through = arguments;
    through[through.size() - 2] = sourcePath;
    through.back() = ".";  // never "./": see the header
    ProcessRun run(executable, mode, onRawLine, onEvent);
    // Its messages name the source folder where it lies, not the descriptor.
    if (const std::optional<std::filesystem::path> folder = SafeFileSystem::whereItLies(source))
        run.nameAs(sourcePath, folder->native());
    run.launch(through, std::move(stop), destination, source);
    return run.perform();
}

}  // namespace kelto
