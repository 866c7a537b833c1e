// kelto-run-job's rsync (sender, generator, receiver) or the whole driver
// killed while a transfer is under way, then the job run again: the killed
// run is no success, the next finishes the work, and no side holds a file
// cut short or a stray temporary, nor loses a version it held before.

#include "SyncModel/Support/FileDescriptor.h"
#include "tests/TwoWayEngineFixture.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestVolumes.h"

#include <poll.h>
#include <sys/inotify.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <thread>

extern char** environ;

namespace kelto::test {
namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

constexpr const char* runJob = KELTO_RUN_JOB;
constexpr int largeMiB = 16;  // three of these keep a transfer going long enough to be caught

// The process of rsync's chain to kill, by its depth below the driver.
enum class Victim { sender, generator, receiver };

struct Trial {
    std::string mode;  // as kelto-run-job takes it
    bool intoA;        // two-way only: killed while B's changes go to A, after A's went to B
    Victim victim;
};

std::string trialName(const Trial& t) {
    static const char* victims[] = {"Sender", "Generator", "Receiver"};
    return t.mode + (t.mode == "twoWay" ? (t.intoA ? "_BtoA_" : "_AtoB_") : "_") +
           victims[static_cast<int>(t.victim)];
}

void PrintTo(const Trial& t, std::ostream* out) { *out << trialName(t); }

// Each file as its size and a hash of its content ("dir/" for a folder),
// keyed by path, outside the reserved folder: the large files are too large
// to hold.
using Digests = std::map<std::string, std::string>;
using Versions = std::set<std::pair<std::string, std::string>>;

std::string digest(const fs::path& file) {
    std::string content(fs::file_size(file), '\0');
    std::ifstream(file, std::ios::binary).read(content.data(), static_cast<std::streamsize>(content.size()));
    return std::to_string(content.size()) + "#" + std::to_string(std::hash<std::string_view>{}(content));
}

Digests digests(const fs::path& root) {
    if (!fs::exists(root)) return {};
    return tree(root, digest);
}

// Everything below a folder, the reserved folder included, with sizes: what
// a failure shows.
std::string listing(const fs::path& root) {
    std::string out;
    std::error_code ignored;
    for (auto it = fs::recursive_directory_iterator(root, ignored); it != fs::recursive_directory_iterator(); ++it) {
        out += "  " + it->path().lexically_relative(root).native();
        out += it->is_directory() ? "/" : " " + std::to_string(it->file_size());
        out += '\n';
    }
    return out;
}

// A file of `mebibytes` whose content the tag makes its own.
void putLarge(const fs::path& file, const std::string& tag, int mebibytes, std::int64_t mtime) {
    fs::create_directories(file.parent_path());
    std::string block(1 << 20, '.');
    block.replace(0, tag.size(), tag);
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        for (int i = 0; i < mebibytes; ++i) out.write(block.data(), static_cast<std::streamsize>(block.size()));
    }
    const timespec times[2] = {{mtime, 0}, {mtime, 0}};
    ::utimensat(AT_FDCWD, file.c_str(), times, 0);
}

void putSmall(const fs::path& root, const std::string& path, const std::string& version, std::int64_t mtime) {
    putAt(root / path, path + " " + version + std::string(path.size() * 37 % 1500, '-'), mtime);
}

// The live rsync children of a process, over all its threads.
std::vector<pid_t> rsyncChildren(pid_t parent) {
    std::vector<pid_t> out;
    std::error_code ec;
    for (fs::directory_iterator task("/proc/" + std::to_string(parent) + "/task", ec), end; !ec && task != end;
         task.increment(ec)) {
        std::ifstream children(task->path() / "children");
        for (pid_t child; children >> child;) {
            // "pid (name) state ...": the name may hold anything, so the state follows the last ')'.
            const std::string stat = contents("/proc/" + std::to_string(child) + "/stat");
            const std::size_t open = stat.find('('), close = stat.rfind(')');
            if (open == std::string::npos || close == std::string::npos || close + 2 >= stat.size()) continue;
            if (stat.substr(open + 1, close - open - 1) == "rsync" && stat[close + 2] != 'Z') out.push_back(child);
        }
    }
    return out;
}

// The driver's rsync chain, top first, as far as it now goes.
std::vector<pid_t> rsyncChain(pid_t driver) {
    std::vector<pid_t> chain;
    for (pid_t parent = driver; chain.size() < 3;) {
        const std::vector<pid_t> children = rsyncChildren(parent);
        if (children.size() != 1) break;
        chain.push_back(parent = children.front());
    }
    return chain;
}

bool hasEnded(pid_t pid) {
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
}

// The exit status of a child, or nullopt when it has not ended in time.
std::optional<int> waitFor(pid_t pid, std::chrono::milliseconds limit) {
    const FileDescriptor exited(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    pollfd watch{exited.get(), POLLIN, 0};
    if (!exited.valid() || ::poll(&watch, 1, static_cast<int>(limit.count())) != 1) return std::nullopt;
    int status = 0;
    ::waitpid(pid, &status, 0);
    return status;
}

std::string describeStatus(int status) {
    if (WIFEXITED(status)) return "exit " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return "signal " + std::to_string(WTERMSIG(status));
    return "status " + std::to_string(status);
}

// The driver's whole rsync chain as soon as it writes into `temporaries` a
// temporary of a file named `trigger` and a digit; fewer when the driver
// ended first or nothing was caught in time.
std::vector<pid_t> catchWriting(pid_t driver, const fs::path& temporaries, const std::string& trigger) {
    std::vector<pid_t> chain;
    for (const auto until = SteadyClock::now() + 30s; SteadyClock::now() < until && !hasEnded(driver);
         std::this_thread::sleep_for(200us)) {
        bool writing = false;
        std::error_code ec;
        for (fs::directory_iterator it(temporaries, ec), end; !ec && it != end; it.increment(ec)) {
            // rsync names a temporary after its file: the name, a dot and six characters.
            const std::string name = it->path().filename();
            writing = writing || (name.starts_with(trigger) && name.size() == trigger.size() + 8 &&
                                  std::isdigit(static_cast<unsigned char>(name[trigger.size()])));
        }
        if (writing && (chain = rsyncChain(driver)).size() == 3) return chain;
    }
    return chain;
}

bool succeeded(const std::string& report) { return report.find("\"outcome\":\"success\"") != std::string::npos; }

// The driver on a and b with `options`, its temporary files in a folder of the test.
template <typename Param>
class DriverTest : public ::testing::TestWithParam<Param> {
protected:
    TemporaryFolder tmp;
    fs::path a = tmp / "a", b = tmp / "b", out = tmp / "out.json";
    std::vector<std::string> options;

    pid_t start() const {
        std::vector<std::string> args{runJob};
        args.insert(args.end(), options.begin(), options.end());
        for (const fs::path& f : {a, b, tmp / "support", tmp / "logs"}) args.push_back(f);
        return startWithOutput(args, tmp / "tmp", out);
    }

    // A run left alone; false when it fails or hangs.
    bool runToSuccess() {
        const pid_t pid = start();
        if (!waitFor(pid, 60s)) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
            killLeftovers();
            return false;
        }
        return succeeded(contents(out));
    }

    // The processes still running with this test's folders on their command line.
    std::vector<pid_t> leftovers() const {
        std::vector<pid_t> found;
        for (const auto& entry : fs::directory_iterator("/proc")) {
            const std::string pid = entry.path().filename();
            if (pid.find_first_not_of("0123456789") == std::string::npos &&
                contents(entry.path() / "cmdline").find(tmp.path().native()) != std::string::npos)
                found.push_back(std::stoi(pid));
        }
        return found;
    }

    // Whether what the driver left behind ends by itself within the limit.
    bool leftoversEnd(std::chrono::milliseconds limit) const {
        for (const auto until = SteadyClock::now() + limit; !leftovers().empty(); std::this_thread::sleep_for(5ms))
            if (SteadyClock::now() >= until) return false;
        return true;
    }

    void killLeftovers() const {
        for (std::vector<pid_t> found = leftovers(); !found.empty(); found = leftovers()) {
            for (pid_t pid : found) ::kill(pid, SIGKILL);
            std::this_thread::sleep_for(5ms);
        }
    }

};

class RsyncKillTest : public DriverTest<Trial> {
protected:
    const Trial& trial = GetParam();
    const bool twoWay = trial.mode == "twoWay";

    void SetUp() override { options = {"--mode", trial.mode, "--force"}; }

    // Starts the driver and kills the victim as soon as rsync writes a
    // temporary of `trigger` (catchWriting); returns the driver and the
    // victim, nullopt when no transfer was caught.
    std::pair<pid_t, std::optional<pid_t>> startAndKill(const fs::path& temporaries, const std::string& trigger) {
        const pid_t driver = start();
        const std::vector<pid_t> chain = catchWriting(driver, temporaries, trigger);
        if (chain.size() < 3) return {driver, std::nullopt};
        const pid_t victim = chain[static_cast<std::size_t>(trial.victim)];
        return {driver, ::kill(victim, SIGKILL) == 0 ? std::optional(victim) : std::nullopt};
    }

    // What the first run puts in step: small files in folders, two larger ones.
    void seed() {
        for (int d = 0; d < 10; ++d)
            for (int f = 0; f < 20; ++f)
                putSmall(a, "docs/d" + std::to_string(d) + "/f" + std::to_string(f), "v0", t0);
        putLarge(a / "media" / "old0", "old0 v0", 8, t0);
        putLarge(a / "media" / "old1", "old1 v0", 8, t0);
        fs::create_directories(b);
    }

    // Edits, deletions and new files on A, large new ones among them; on B
    // for a two-way job the same and one conflict, else edits A's versions
    // will replace and files only B holds.
    void change() {
        const std::int64_t tA = t0 + 100, tB = t0 + 200;
        for (int i = 0; i < 3; ++i)
            putLarge(a / "media" / ("new" + std::to_string(i)), "new" + std::to_string(i) + " vA", largeMiB, tA);
        putLarge(a / "media" / "old0", "old0 vA", 8, tA);
        for (int f = 0; f < 10; ++f) putSmall(a, "docs/d0/f" + std::to_string(f), "vA", tA);
        for (int f = 0; f < 5; ++f) fs::remove(a / "docs" / "d1" / ("f" + std::to_string(f)));
        for (int f = 0; f < 20; ++f) putSmall(a, "docs/d9/newA" + std::to_string(f), "vA", tA);
        if (twoWay) {
            for (int i = 0; i < 3; ++i)
                putLarge(b / "media" / ("fromB" + std::to_string(i)), "fromB" + std::to_string(i) + " vB", largeMiB, tB);
            putLarge(b / "media" / "old1", "old1 vB", 8, tB);
            for (int f = 0; f < 10; ++f) putSmall(b, "docs/d2/f" + std::to_string(f), "vB", tB);
            for (int f = 0; f < 5; ++f) fs::remove(b / "docs" / "d3" / ("f" + std::to_string(f)));
            for (int f = 0; f < 20; ++f) putSmall(b, "docs/d8/newB" + std::to_string(f), "vB", tB);
            putSmall(a, "docs/d4/f0", "conflict vA", tA);
            putSmall(b, "docs/d4/f0", "conflict, B's later vB", tB);
        } else {
            for (int f = 0; f < 5; ++f) putSmall(b, "docs/d2/f" + std::to_string(f), "vB", tB);
            for (int f = 0; f < 5; ++f) putSmall(b, "docs/onlyB/x" + std::to_string(f), "vB", tB);
        }
    }

    // The versions each side holds and those its run archives keep.
    Versions keptVersions() const {
        Versions kept;
        for (const fs::path& side : {a, b}) {
            std::vector<fs::path> places{side};
            std::error_code ignored;
            for (fs::directory_iterator job(side / ".KeltoSync" / "Archive", ignored), end; job != end; ++job)
                for (const auto& run : fs::directory_iterator(*job)) places.push_back(run.path());
            for (const fs::path& place : places) {
                const Digests found = digests(place);
                kept.insert(found.begin(), found.end());
            }
        }
        return kept;
    }

    // Each side holds only versions that some side held before the run:
    // nothing cut short, no stray temporary.
    static void expectOnly(const Versions& versions, const Digests& sideA, const Digests& sideB, const char* when) {
        for (const auto& [side, held] : {std::pair{"a", &sideA}, std::pair{"b", &sideB}})
            for (const auto& [path, version] : *held)
                EXPECT_TRUE(versions.contains({path, version}))
                    << when << ": " << side << " holds " << path << " (" << version << ") that no side held before";
    }

    std::string report(const std::string& killedRun) const {
        return "\nkilled run: " + killedRun + "\nnext run: " + contents(out) + "\na:\n" + listing(a) + "b:\n" +
               listing(b);
    }
};

TEST_P(RsyncKillTest, AKilledRsyncFailsTheRunAndTheNextRunCompletesIt) {
    seed();
    ASSERT_TRUE(runToSuccess()) << contents(out);
    change();
    const Digests beforeA = digests(a), beforeB = digests(b);
    Versions versions;
    for (const Digests* side : {&beforeA, &beforeB}) versions.insert(side->begin(), side->end());

    // Caught while a large new file goes over (more follow it).
    const fs::path into = trial.intoA ? a : b;
    const auto [driver, victim] = startAndKill(into / ".KeltoSync" / "Temporary", trial.intoA ? "fromB" : "new");
    const std::optional<int> status = waitFor(driver, 30s);
    if (!status) {
        ::kill(driver, SIGKILL);
        ::waitpid(driver, nullptr, 0);
        killLeftovers();
        FAIL() << "the driver did not end after its rsync was killed" << report("");
    }
    const std::string killedRun = contents(out);
    ASSERT_TRUE(victim) << "no transfer was caught under way: " << describeStatus(*status) << " " << killedRun;
    EXPECT_TRUE(leftoversEnd(5s)) << "rsync processes outlived the driver";
    killLeftovers();

    EXPECT_FALSE(succeeded(killedRun)) << "the killed run passed for a success (" << describeStatus(*status) << ")"
                                       << report(killedRun);
    const Digests killedA = digests(a), killedB = digests(b);
    expectOnly(versions, killedA, killedB, "after the killed run");
    // Its record counts the files that reached a side, not those rsync named
    // before it was killed.
    std::int64_t arrived = 0, arrivedBytes = 0;
    for (const auto& [before, after] : {std::pair{&beforeA, &killedA}, std::pair{&beforeB, &killedB}})
        for (const auto& [path, version] : *after)
            if (version != "dir/" && (!before->contains(path) || before->at(path) != version)) {
                ++arrived;
                arrivedBytes += std::stoll(version.substr(0, version.find('#')));
            }
    const Json killedStats = Json::parse(killedRun)["record"]["stats"];
    EXPECT_EQ(killedStats["filesCopied"], arrived) << report(killedRun);
    EXPECT_EQ(killedStats["bytesCopied"], arrivedBytes);

    ASSERT_TRUE(runToSuccess()) << report(killedRun);
    const Digests afterA = digests(a), afterB = digests(b);
    if (!twoWay) {
        EXPECT_TRUE(afterA == beforeA) << "the source changed" << report(killedRun);
    }
    if (trial.mode == "copy") {
        for (const auto& [path, version] : afterA) {
            const auto found = afterB.find(path);
            EXPECT_TRUE(found != afterB.end() && found->second == version) << path << " is not as on A";
        }
    } else {
        EXPECT_TRUE(afterA == afterB) << "the sides differ" << report(killedRun);
    }
    expectOnly(versions, afterA, afterB, "after the next run");
    const Versions kept = keptVersions();
    int lost = 0;
    for (const auto& [path, version] : versions)
        if (version != "dir/" && !kept.contains({path, version})) {
            ADD_FAILURE() << "lost " << path << " (" << version << ")";
            ++lost;
        }
    EXPECT_EQ(lost, 0) << report(killedRun);
    for (const fs::path& side : {a, b})
        for (const char* scratch : {"Temporary", "Partial"})
            EXPECT_TRUE(!fs::exists(side / ".KeltoSync" / scratch) || fs::is_empty(side / ".KeltoSync" / scratch))
                << "an unfinished file stayed in " << side.filename() << "/.KeltoSync/" << scratch << report(killedRun);
}

// A transfer into a mount below B makes its temporaries beside the files.
// rsync killed whole (as a power loss would) or only its receiver: the run
// going on, or the next, clears those of the recorded copies, and none of
// the user's items that only look like one.
class RsyncKillMountBelowTest : public DriverTest<bool> {};

TEST_P(RsyncKillMountBelowTest, OnlyTheTemporariesOfTheRecordedCopiesAreCleared) {
    const bool whole = GetParam();
    options = {"--mode", "copy", "--force"};
    TestMounts mounts;  // undone before the temporary folder goes
    fs::create_directories(b / "d0");
    ASSERT_TRUE(mounts.mount({"mount", "-t", "tmpfs", "-o", "size=128m", "tmpfs", (b / "d0").native()}, b / "d0"));
    putSmall(a, "d0/f1", "v0", t0);
    ASSERT_TRUE(runToSuccess()) << contents(out);
    // rsync's name for the temporary of d0/bigN: ".bigN." and six characters.
    const auto isTemporary = [](const std::string& name) {
        return name.size() == 12 && name.starts_with(".big") && name[4] >= '0' && name[4] <= '2' && name[5] == '.';
    };
    const auto temporaries = [&] {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(b / "d0"))
            if (isTemporary(entry.path().filename())) found.push_back(entry.path().filename());
        return found;
    };
    const std::vector<std::string> lookalikes{".f1.Zz9Yy8", ".photo.a1B2c3", ".big7.Ab3dE9"};
    for (const std::string& name : lookalikes) putAt(b / "d0" / name, "mine " + name, t0);
    for (const std::string big : {"big0", "big1", "big2"}) putLarge(a / "d0" / big, big, largeMiB, t0);

    // Killed as soon as one temporary stands beside the files.
    const FileDescriptor watch(::inotify_init1(IN_CLOEXEC));
    ASSERT_GE(::inotify_add_watch(watch.get(), (b / "d0").c_str(), IN_CREATE), 0);
    const pid_t driver = start();
    bool caught = false;
    for (pollfd ready{watch.get(), POLLIN, 0}; !caught && ::poll(&ready, 1, 30'000) == 1;) {
        alignas(inotify_event) char events[4096];
        const ssize_t n = ::read(watch.get(), events, sizeof events);
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(events + at);
            caught = caught || (event->len && isTemporary(event->name));
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    ASSERT_TRUE(caught) << "no temporary appeared: " << contents(out);
    if (whole) ::kill(driver, SIGSTOP);
    const std::vector<pid_t> chain = rsyncChain(driver);
    // Whole: rsync's processes all at once, as a power loss would take them.
    if (chain.size() == 3)
        ::kill(whole ? -::getpgid(chain.front()) : chain[static_cast<std::size_t>(Victim::receiver)], SIGKILL);
    if (whole || chain.size() != 3) ::kill(driver, SIGKILL);
    ASSERT_TRUE(waitFor(driver, 30s)) << "the driver did not end";
    ASSERT_EQ(chain.size(), 3u);
    if (whole)
        ASSERT_FALSE(temporaries().empty()) << "nothing left to clear";
    else
        EXPECT_EQ(temporaries(), std::vector<std::string>{}) << "the run whose rsync was killed left them";

    ASSERT_TRUE(runToSuccess()) << contents(out);
    EXPECT_EQ(temporaries(), std::vector<std::string>{});
    for (const std::string& name : lookalikes) EXPECT_EQ(contents(b / "d0" / name), "mine " + name);
}

INSTANTIATE_TEST_SUITE_P(WholeOrReceiver, RsyncKillMountBelowTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Whole" : "Receiver";
                         });

// A two-way run killed (its rsync or the whole driver) after or before its
// transfer replaced conflicts' losers, then run twice: each conflict is
// named once over all logs, its loser archived where the job keeps them.
struct ConflictKill {
    bool archive;
    bool wholeDriver;
    bool intoA;  // killed while B's changes go to A, after A's went to B
    bool untouched = false;  // killed before the transfer reached the losers
};

class RsyncKillConflictTest : public DriverTest<ConflictKill> {};

TEST_P(RsyncKillConflictTest, EachConflictSettledIsNamedOnce) {
    const auto [archive, wholeDriver, intoA, untouched] = GetParam();
    options = {"--mode", "twoWay", "--archive", archive ? "on" : "off", "--force"};
    const std::vector<std::string> conflicts{"c/k0", "c/k1", "c/k2"};
    for (const std::string& path : conflicts) putSmall(a, path, "v0", t0);
    fs::create_directories(b);
    ASSERT_TRUE(runToSuccess()) << contents(out);
    // A's later edits win; large new files, sorted after them or before, keep a transfer going.
    for (const std::string& path : conflicts) putSmall(a, path, "vA", t0 + 200), putSmall(b, path, "vB", t0 + 100);
    for (const std::string big : {"big0", "big1", "big2"})
        putLarge((intoA ? b : a) / (untouched ? "a" : "z") / big, big, largeMiB, t0);

    const pid_t driver = start();
    const std::vector<pid_t> chain = catchWriting(driver, (intoA ? a : b) / ".KeltoSync" / "Temporary", "big");
    if (wholeDriver) ::kill(driver, SIGSTOP);  // it never sees its rsync end
    if (chain.size() == 3) ::kill(wholeDriver ? -::getpgid(chain.front()) : chain.back(), SIGKILL);
    if (wholeDriver || chain.size() != 3) ::kill(driver, SIGKILL);
    ASSERT_TRUE(waitFor(driver, 30s)) << "the driver did not end";
    ASSERT_EQ(chain.size(), 3u) << "no transfer was caught under way: " << contents(out);
    ASSERT_TRUE(runToSuccess()) << contents(out);
    ASSERT_TRUE(runToSuccess()) << contents(out);

    std::string logs;
    std::error_code ec;
    for (const auto& entry : fs::recursive_directory_iterator(tmp / "logs"))
        if (entry.path().extension() == ".log") logs += contents(entry.path());
    for (const std::string& path : conflicts) {
        const std::string line = "Conflict, A's version kept: " + path + "\n";
        std::size_t named = 0;
        for (std::size_t at = logs.find(line); at != std::string::npos; at = logs.find(line, at + 1)) ++named;
        EXPECT_EQ(named, 1u) << path << " in the logs:\n" << logs;
        bool archived = false;
        for (const auto& entry : fs::recursive_directory_iterator(b / ".KeltoSync" / "Archive", ec))
            archived = archived || (entry.path().native().ends_with("/" + path) &&
                                    contents(entry.path()).find("vB") != std::string::npos);
        EXPECT_EQ(archived, archive) << path << "'s loser";
    }
}

INSTANTIATE_TEST_SUITE_P(KilledAfterReplacing, RsyncKillConflictTest,
                         ::testing::Values(ConflictKill{false, false, false}, ConflictKill{true, true, false},
                                           ConflictKill{true, false, true}, ConflictKill{false, true, true},
                                           ConflictKill{true, true, false, true},
                                           ConflictKill{false, false, false, true}),
                         [](const ::testing::TestParamInfo<ConflictKill>& info) {
                             const ConflictKill& k = info.param;
                             return std::string(k.archive ? "ArchiveOn" : "ArchiveOff") +
                                    (k.wholeDriver ? "_Driver" : "_Rsync") + (k.intoA ? "_BtoA" : "_AtoB") +
                                    (k.untouched ? "_Untouched" : "");
                         });

std::vector<Trial> trials() {
    std::vector<Trial> out;
    for (Victim victim : {Victim::sender, Victim::generator, Victim::receiver}) {
        out.push_back({"twoWay", false, victim});
        out.push_back({"twoWay", true, victim});
        out.push_back({"mirror", false, victim});
        out.push_back({"copy", false, victim});
    }
    return out;
}

INSTANTIATE_TEST_SUITE_P(EachModeAndDepth, RsyncKillTest, ::testing::ValuesIn(trials()),
                         [](const ::testing::TestParamInfo<Trial>& info) { return trialName(info.param); });

}  // namespace
}  // namespace kelto::test
