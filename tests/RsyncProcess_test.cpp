#include "SyncEngine/ExitClass.h"
#include "SyncEngine/RsyncLocator.h"
#include "SyncEngine/RsyncProcess.h"
#include "tests/support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <set>

using namespace kelto;
using Mode = RsyncOutputParser::Mode;

namespace {

using TempDir = test::TemporaryFolder;
using test::readFile;

// Everything one run delivered.
struct Capture {
    std::vector<std::string> raw;
    std::vector<RsyncEvent> events;
    RsyncProcess::RawLineHandler rawHandler() {
        return [this](std::string_view line) { raw.emplace_back(line); };
    }
    RsyncProcess::EventHandler eventHandler() {
        return [this](RsyncEvent&& event) { events.push_back(std::move(event)); };
    }
    std::vector<std::string> diagnostics() const {
        std::vector<std::string> result;
        for (const auto& e : events)
            if (auto d = e.asDiagnostic()) result.push_back(*d);
        return result;
    }
};

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Whether the process ends (or has ended) within the time, waited for by its pidfd.
bool endsWithin(pid_t pid, int milliseconds) {
    const int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (fd < 0) return errno == ESRCH;
    pollfd ended{fd, POLLIN, 0};
    const bool done = ::poll(&ended, 1, milliseconds) > 0;
    ::close(fd);
    return done;
}

bool isGoneOrZombie(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    if (!stat) return true;
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    const auto close = text.rfind(')');
    return close != std::string::npos && text.compare(close + 2, 1, "Z") == 0;
}

}  // namespace

// A stopped token starts nothing, not even a missing program; a program that cannot start throws.
TEST(RsyncProcess, ARunThatNeverStartsDeliversNothing) {
    TempDir dir;
    const auto marker = dir.path() / "ran", plain = dir.path() / "plain";
    std::ofstream(plain) << "not a program\n";
    std::stop_source stopped;
    stopped.request_stop();
    Capture capture;
    for (const auto& program : {dir.script("touch.sh", "touch '" + marker.string() + "'"), dir.path() / "missing"})
        EXPECT_EQ(RsyncProcess{program}.run({}, Mode::transfer, stopped.get_token(), capture.rawHandler(),
                                            capture.eventHandler()),
                  RsyncExit(20, {}));
    EXPECT_FALSE(std::filesystem::exists(marker));
    for (const auto& [path, error] : {std::pair{dir.path() / "missing", ENOENT}, std::pair{plain, EACCES}}) {
        try {
            RsyncProcess{path}.run({}, Mode::transfer, {}, capture.rawHandler(), capture.eventHandler());
            ADD_FAILURE() << path << " started";
        } catch (const RsyncProcessError& e) {
            EXPECT_EQ(e.code(), RsyncProcessError::Code::launchFailed);
            EXPECT_EQ(e.errorNumber(), error) << path;
        }
    }
    EXPECT_TRUE(capture.raw.empty() && capture.events.empty());
}

TEST(RsyncProcess, ChildStartsWithCleanEnvironmentSignalsAndDescriptors) {
    TempDir dir;
    ::setenv("LC_ALL", "de_DE.UTF-8", 1);
    ::setenv("TZ", "Europe/Berlin", 1);
    ::setenv("KELTO_PROBE", "kept", 1);
    // What an application might have done to its signals and descriptors.
    const auto oldPipe = ::signal(SIGPIPE, SIG_IGN);
    sigset_t term, oldMask;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    ::pthread_sigmask(SIG_BLOCK, &term, &oldMask);
    const int leaked = ::open("/dev/null", O_RDONLY);  // no O_CLOEXEC on purpose
    const auto script = dir.script("env.sh",
                                    "echo \"LC_ALL=$LC_ALL TZ=$TZ KELTO_PROBE=$KELTO_PROBE\"\n"
                                    "grep -E '^Sig(Blk|Ign)' /proc/self/status\n"
                                    "[ -e /proc/$$/fd/" + std::to_string(leaked) + " ] && echo leaked\n"
                                    "exit 0");
    Capture capture;
    const auto exit = RsyncProcess{script}.run({}, Mode::transfer, {}, nullptr, capture.eventHandler());
    ::close(leaked);
    ::pthread_sigmask(SIG_SETMASK, &oldMask, nullptr);
    ::signal(SIGPIPE, oldPipe);
    ::unsetenv("LC_ALL");
    ::unsetenv("TZ");
    ::unsetenv("KELTO_PROBE");
    EXPECT_EQ(exit.code, 0);
    const auto lines = capture.diagnostics();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "LC_ALL=C TZ=UTC0 KELTO_PROBE=kept");
    EXPECT_EQ(lines[1], "SigBlk:\t0000000000000000");
    // glibc's spawn ignores its own two internal signals; ours must be clear.
    ASSERT_EQ(lines[2].rfind("SigIgn:\t", 0), 0u);
    const auto ignored = std::stoull(lines[2].substr(8), nullptr, 16);
    EXPECT_EQ(ignored & ((1ull << (SIGPIPE - 1)) | (1ull << (SIGTERM - 1))), 0u) << lines[2];
}

TEST(RsyncProcess, TheChildDiesWithTheProcessThatStartedIt) {
    TempDir dir;
    const auto pidFile = dir.path() / "pid";
    const auto script = dir.script("linger.sh", "echo $$ > '" + pidFile.string() + ".new'\nmv '" +
                                                    pidFile.string() + ".new' '" + pidFile.string() +
                                                    "'\nexec sleep 30");
    const pid_t runner = ::fork();
    ASSERT_GE(runner, 0);
    if (runner == 0) {
        RsyncProcess{script}.run({}, Mode::transfer, {}, nullptr, [](RsyncEvent&&) {});
        ::_exit(0);
    }
    // Waits for the child to say its pid (or the runner to end early).
    while (!std::filesystem::exists(pidFile) && !endsWithin(runner, 10)) {
    }
    pid_t child = -1;
    std::ifstream(pidFile) >> child;
    ::kill(runner, SIGKILL);
    ::waitpid(runner, nullptr, 0);
    ASSERT_GT(child, 0);
    const bool died = endsWithin(child, 5000);
    if (!died) ::kill(child, SIGKILL);
    EXPECT_TRUE(died) << "rsync outlived the process that started it";
}

TEST(RsyncProcess, UnterminatedLastLinesArriveRawAndParsed) {
    TempDir dir;
    const auto script = dir.script("list.sh",
                                    "printf 'drwxr-xr-x 4096 2024/01/02 03:04:05 .\\n'\n"
                                    "printf 'oops' >&2\n"
                                    "printf -- '-rw-r--r-- 12 2024/01/02 03:04:05 a file'");
    Capture capture;
    const auto exit = RsyncProcess{script}.run({}, Mode::listOnly, {}, capture.rawHandler(), capture.eventHandler());
    EXPECT_EQ(exit, RsyncExit(0, {"oops"}));
    auto raw = capture.raw;
    std::sort(raw.begin(), raw.end());
    EXPECT_EQ(raw, (std::vector<std::string>{"-rw-r--r-- 12 2024/01/02 03:04:05 a file",
                                             "drwxr-xr-x 4096 2024/01/02 03:04:05 .", "oops"}));
    ASSERT_EQ(capture.events.size(), 2u);  // "." is dropped
    const auto* entry = capture.events[0].asListEntry() ? capture.events[0].asListEntry() : capture.events[1].asListEntry();
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(*entry, (ListEntry{EntryKind::file, 12, 1704164645, "a file"}));
    EXPECT_EQ(capture.diagnostics(), std::vector<std::string>{"oops"});
}

TEST(RsyncProcess, MessagesOfARunBetweenHeldFoldersNameTheSourceFolder) {
    TempDir dir;
    std::filesystem::create_directories(dir / "source folder");
    std::filesystem::create_directories(dir / "destination");
    // The source operand is the last but one.
    const auto script = dir.script("vanished.sh",
                                   "for a; do src=$dst; dst=$a; done\n"
                                   "echo \"file has vanished: \\\"${src}gone\\\"\" >&2\n"
                                   "echo \"rsync: read errors mapping \\\"${src}sub/x\\\": ${src}\" >&2\n"
                                   "exit 24");
    const int source = ::open((dir / "source folder").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const int destination = ::open((dir / "destination").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    Capture capture;
    const auto exit = RsyncProcess{script}.runBetween(source, destination, {"--x", "a/", "b/"}, Mode::transfer, {},
                                                      capture.rawHandler(), capture.eventHandler());
    ::close(source);
    ::close(destination);
    const std::string folder = std::filesystem::canonical(dir / "source folder").native() + "/";
    const std::vector<std::string> expected{"file has vanished: \"" + folder + "gone\"",
                                            "rsync: read errors mapping \"" + folder + "sub/x\": " + folder};
    EXPECT_EQ(exit.code, 24);
    EXPECT_EQ(exit.stderrTail, expected);
    EXPECT_EQ(capture.diagnostics(), expected);
    EXPECT_EQ(capture.raw, expected);
}

// In a child: copies dir/source into dir/destination between held folders
// (at descriptors 1 and 2 where asked) and exits 0 once the file arrived;
// 1: rsync failed, 2: nothing copied, 4: it threw, 5: not at 1 and 2.
[[noreturn]] void copyBetweenHeldFolders(const std::filesystem::path& dir, const std::filesystem::path& rsync,
                                         bool atStandardDescriptors) {
    try {
        if (atStandardDescriptors) {
            ::close(STDOUT_FILENO);
            ::close(STDERR_FILENO);
        }
        const int source = ::open((dir / "source").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        const int destination = ::open((dir / "destination").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (atStandardDescriptors && (source != STDOUT_FILENO || destination != STDERR_FILENO)) ::_exit(5);
        const RsyncExit exit = RsyncProcess{rsync}.runBetween(source, destination, {"--recursive", "a/", "b/"},
                                                              Mode::transfer, {}, nullptr, nullptr);
        ::_exit(exit.code != 0 ? 1 : std::filesystem::exists(dir / "destination" / "file") ? 0 : 2);
    } catch (...) {
        ::_exit(4);
    }
}

int exitOf(pid_t child) {
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 3;  // 3: crashed
}

// Held folders reach rsync where they were opened at descriptors 1 and 2, and in a PID namespace on a /proc
// not its own.
TEST(RsyncProcess, HeldFoldersReachRsyncAtTheStandardDescriptorsAndInAnotherPidNamespace) {
    TempDir dir;
    std::filesystem::create_directories(dir / "source");
    std::filesystem::create_directories(dir / "destination");
    std::ofstream(dir / "source" / "file") << "content";
    const auto rsync = RsyncLocator::requireExecutable(KELTO_BUNDLE_DIR);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) copyBetweenHeldFolders(dir.path(), rsync, true);
    EXPECT_EQ(exitOf(child), 0) << "at the standard descriptors";
    std::filesystem::remove(dir / "destination" / "file");
    const pid_t outer = ::fork();
    ASSERT_GE(outer, 0);
    if (outer == 0) {
        if (::unshare(CLONE_NEWPID) != 0) ::_exit(10);
        const pid_t inner = ::fork();  // the new namespace's first process, on the old /proc
        if (inner == 0) copyBetweenHeldFolders(dir.path(), rsync, false);
        ::_exit(exitOf(inner));
    }
    const int code = exitOf(outer);
    if (code == 10) GTEST_SKIP() << "no new PID namespace can be made here";
    EXPECT_EQ(code, 0) << "in another PID namespace";
}

TEST(RsyncProcess, ChildIgnoringSigtermIsKilledFiveSecondsLater) {
    TempDir dir;
    const auto script = dir.script("stubborn.sh",
                                    "trap '' TERM\n"
                                    "echo 'still here' >&2\n"
                                    "echo ready\n"
                                    "while :; do sleep 1; done");
    std::stop_source source;
    const auto start = std::chrono::steady_clock::now();
    const auto exit = RsyncProcess{script}.run({}, Mode::transfer, source.get_token(), nullptr, [&](RsyncEvent&& e) {
        if (auto d = e.asDiagnostic(); d && *d == "ready") source.request_stop();
    });
    const double elapsed = secondsSince(start);
    EXPECT_EQ(exit, RsyncExit(20, {"still here"}));
    EXPECT_GE(elapsed, 4.9);  // without the kill the run would never end
}

TEST(RsyncProcess, HandlerErrorKillsTheChildAndPropagates) {
    TempDir dir;
    const auto script = dir.script("pid.sh", "echo $$\nexec sleep 600");
    pid_t pid = 0;
    EXPECT_THROW(RsyncProcess{script}.run({}, Mode::transfer, {}, nullptr,
                                          [&](RsyncEvent&& e) {
                                              pid = std::stoi(*e.asDiagnostic());
                                              throw std::logic_error("engine failed");
                                          }),
                 std::logic_error);
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(isGoneOrZombie(pid));
}

TEST(RsyncProcess, ASignalFromElsewhereIsNamedInWords) {
    TempDir dir;
    for (const auto& [signal, words] : {std::pair{"KILL", "SIGKILL (Killed)"}, std::pair{"TERM", "SIGTERM (Terminated)"},
                                        std::pair{"ABRT", "SIGABRT (Aborted)"}, std::pair{"SEGV", "SIGSEGV"}}) {
        SCOPED_TRACE(signal);
        const auto script = dir.script(std::string("die-") + signal + ".sh",
                                       std::string("echo 'rsync: last words' >&2\nkill -") + signal + " $$");
        Capture capture;
        const auto exit = RsyncProcess{script}.run({}, Mode::transfer, {}, capture.rawHandler(), capture.eventHandler());
        ASSERT_EQ(exit.stderrTail.size(), 2u);
        EXPECT_EQ(exit.stderrTail.front(), "rsync: last words");
        EXPECT_NE(exit.stderrTail.back().find(words), std::string::npos) << exit.stderrTail.back();
        EXPECT_EQ(exit.stderrTail.back(), RsyncProcess::abnormalEndLine(exit.code));
        EXPECT_EQ(exitClass(exit), ExitClass::failed) << exit.code;
        EXPECT_EQ(capture.diagnostics(), exit.stderrTail);
        EXPECT_EQ(capture.raw, exit.stderrTail);
    }
    // An exit of its own, even a failing one, is left to rsync's words.
    const auto plain = dir.script("fails.sh", "exit 3");
    Capture quiet;
    EXPECT_EQ(RsyncProcess{plain}.run({}, Mode::transfer, {}, nullptr, quiet.eventHandler()), RsyncExit(3, {}));
}

// Output of what the child left behind arrives within the grace; pipes held for ever (one holder in the
// child's process group, one escaped from it) are let go after it.
TEST(RsyncProcess, PipesHeldForeverStillEndTheRunAfterTheGrace) {
    TempDir dir;
    const auto inGroup = dir.path() / "in-group";
    const auto escaped = dir.path() / "escaped";
    const auto script = dir.script("hold.sh",
                                    "(sleep 0.5; echo late) &\n"
                                    "sh -c 'echo $$ > " + inGroup.string() + "; exec sleep 600' &\n"
                                    "setsid sh -c 'echo $$ > " + escaped.string() + "; exec sleep 600' &\n"
                                    "while [ ! -s " + inGroup.string() + " ] || [ ! -s " + escaped.string() + " ]; do "
                                    "sleep 0.05; done\n"
                                    "echo done; exit 3");
    Capture capture;
    const auto start = std::chrono::steady_clock::now();
    const auto exit = RsyncProcess{script}.run({}, Mode::transfer, {}, nullptr, capture.eventHandler());
    const double elapsed = secondsSince(start);
    const pid_t escapedPid = std::stoi(readFile(escaped));
    const bool escapedAlive = !isGoneOrZombie(escapedPid);
    ::kill(escapedPid, SIGKILL);
    EXPECT_EQ(exit.code, 3);  // not a cancellation: the child's own status
    // The abandoned output is reported, so the run's log and errors show it.
    const auto lines = capture.diagnostics();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(std::set(lines.begin(), lines.begin() + 2), (std::set<std::string>{"done", "late"}));
    EXPECT_EQ(lines[2].rfind("Output abandoned", 0), 0u);
    EXPECT_EQ(exit.stderrTail.size(), 1u);
    EXPECT_GE(elapsed, 1.9);  // without the grace's end the run would wait for the holders
    EXPECT_TRUE(endsWithin(std::stoi(readFile(inGroup)), 10'000));
    EXPECT_TRUE(escapedAlive);  // out of our reach; only its pipe was let go
}
