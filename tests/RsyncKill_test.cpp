// kelto-run-job's rsync (sender, generator, receiver) or the whole driver killed while a transfer is under
// way, or at random moments, then the job run again: the killed run is no success, the next finishes the
// work, and no side holds a file cut short or a stray temporary, nor loses a version it held before.

#include "SyncModel/Support/FileDescriptor.h"
#include "tests/TwoWayEngineFixture.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestVolumes.h"

#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/syscall.h>
#include <sys/wait.h>

#include <chrono>
#include <fstream>
#include <random>
#include <thread>

namespace kelto::test {
namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

constexpr int largeMiB = 16;  // three of these keep a transfer going long enough to be caught

// Each file as its size and a hash of its content ("dir/" for a folder), keyed by path, outside the
// reserved folder: the large files are too large to hold.
using Digests = std::map<std::string, std::string>;
using Versions = std::set<std::pair<std::string, std::string>>;

std::string digest(const fs::path& file) {
    const std::string content = contents(file);
    return std::to_string(content.size()) + "#" + std::to_string(std::hash<std::string>{}(content));
}

Digests digests(const fs::path& root) { return fs::exists(root) ? tree(root, digest) : Digests{}; }

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

// The driver's live rsync chain, top first, as far as it now goes.
std::vector<pid_t> rsyncChain(pid_t driver) {
    std::vector<pid_t> chain;
    for (pid_t parent = driver; chain.size() < 3;) {
        std::vector<pid_t> children;
        std::error_code ec;
        for (fs::directory_iterator task("/proc/" + std::to_string(parent) + "/task", ec), end; !ec && task != end;
             task.increment(ec)) {
            std::ifstream listed(task->path() / "children");
            for (pid_t child; listed >> child;) {
                // "pid (name) state ...": the name may hold anything, so the state follows the last ')'.
                const std::string stat = contents("/proc/" + std::to_string(child) + "/stat");
                const std::size_t open = stat.find('('), close = stat.rfind(')');
                if (open != std::string::npos && close != std::string::npos && close + 2 < stat.size() &&
                    stat.substr(open + 1, close - open - 1) == "rsync" && stat[close + 2] != 'Z')
                    children.push_back(child);
            }
        }
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

// The driver's whole rsync chain as soon as it writes into `temporaries` a temporary of a file named
// `trigger` and a digit; fewer when the driver ended first or nothing was caught in time.
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

// The process of rsync's chain to kill, by its depth below the driver.
enum class Victim { sender, generator, receiver };

// The driver on a and b with `options`, its temporary files in a folder of the test.
class DriverTest : public ::testing::Test {
protected:
    TemporaryFolder tmp;
    fs::path a = tmp / "a", b = tmp / "b", out = tmp / "out.json";
    std::vector<std::string> options{"--mode", "twoWay", "--force"};

    void SetUp() override { fs::create_directories(b); }

    pid_t start() const {
        std::vector<std::string> args{KELTO_RUN_JOB};
        args.insert(args.end(), options.begin(), options.end());
        for (const fs::path& f : {a, b, tmp / "support", tmp / "logs"}) args.push_back(f);
        return startWithOutput(args, tmp / "tmp", out);
    }

    // A run left alone; false when it fails or hangs.
    bool runToSuccess() {
        const pid_t pid = start();
        if (!waitFor(pid, 60s)) {
            killWhole(pid, {});
            ::waitpid(pid, nullptr, 0);
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

    void killLeftovers() const {
        for (std::vector<pid_t> found = leftovers(); !found.empty(); found = leftovers()) {
            for (pid_t pid : found) ::kill(pid, SIGKILL);
            std::this_thread::sleep_for(5ms);
        }
    }

    // The driver, stopped first so that it never sees its rsync end, and rsync's whole process group at
    // once, as a power loss would take them; the driver is left to be reaped.
    void killWhole(pid_t driver, const std::vector<pid_t>& chain) const {
        ::kill(driver, SIGSTOP);
        if (!chain.empty()) ::kill(-::getpgid(chain.front()), SIGKILL);
        ::kill(driver, SIGKILL);
        killLeftovers();
    }

    // A run killed as soon as its rsync writes a temporary of `trigger` into `temporaries`: the process of
    // rsync's chain at `victim`'s depth, or without one (or no whole chain caught) the driver and rsync at
    // once. The chain caught.
    std::vector<pid_t> killWhileWriting(const fs::path& temporaries, const std::string& trigger,
                                        std::optional<Victim> victim) const {
        const pid_t driver = start();
        const std::vector<pid_t> chain = catchWriting(driver, temporaries, trigger);
        if (victim && chain.size() == 3)
            ::kill(chain[static_cast<std::size_t>(*victim)], SIGKILL);
        else
            killWhole(driver, chain);
        if (!waitFor(driver, 30s)) {
            killWhole(driver, {});
            ::waitpid(driver, nullptr, 0);
            ADD_FAILURE() << "the driver did not end after its rsync was killed";
        }
        return chain;
    }

    // The run logs so far: each run opens a new one as it begins.
    std::set<fs::path> logs() const {
        std::set<fs::path> found;
        std::error_code ignored;
        for (auto entry = fs::recursive_directory_iterator(tmp / "logs", ignored);
             entry != fs::recursive_directory_iterator(); entry.increment(ignored))
            if (entry->path().extension() == ".log") found.insert(entry->path());
        return found;
    }

    // What the sides hold, files only.
    Versions held() const {
        Versions versions;
        for (const fs::path& side : {a, b})
            for (const auto& version : digests(side))
                if (version.second != "dir/") versions.insert(version);
        return versions;
    }

    // Every one of `versions` still on a side or in one of its run archives.
    void expectNoneLost(const Versions& versions, const std::string& when) const {
        Versions kept;
        for (const fs::path& side : {a, b}) {
            std::vector<fs::path> places{side};
            std::error_code ignored;
            for (fs::directory_iterator job(side / ".KeltoSync/Archive", ignored), end; job != end; ++job)
                for (const auto& run : fs::directory_iterator(*job)) places.push_back(run.path());
            for (const fs::path& place : places) {
                const Digests found = digests(place);
                kept.insert(found.begin(), found.end());
            }
        }
        for (const auto& [path, version] : versions)
            EXPECT_TRUE(kept.contains({path, version})) << when << " lost " << path << " (" << version << ")";
    }
};

struct Trial {
    std::string mode;              // as kelto-run-job takes it
    bool intoA;                    // two-way only: killed while B's changes go to A, after A's went to B
    std::optional<Victim> victim;  // none: the driver and rsync at once, as a power loss would take them
    bool archive = true;
};

class RsyncKillTest : public DriverTest, public ::testing::WithParamInterface<Trial> {
protected:
    const Trial& trial = GetParam();
    const bool twoWay = trial.mode == "twoWay";

    // What the first run puts in step: small files in folders, two larger ones.
    void seed() {
        for (int d = 0; d < 10; ++d)
            for (int f = 0; f < 20; ++f) putSmall(a, "docs/d" + std::to_string(d) + "/f" + std::to_string(f), "v0", t0);
        putLarge(a / "media/old0", "old0 v0", 8, t0);
        putLarge(a / "media/old1", "old1 v0", 8, t0);
    }

    // Edits, deletions and new files on `side` (large new ones among them) in the folders `d` names.
    static void edit(const fs::path& side, const std::string& large, const std::string& d, const std::string& v,
                     std::int64_t mtime) {
        for (int i = 0; i < 3; ++i)
            putLarge(side / "media" / (large + std::to_string(i)), large + std::to_string(i) + v, largeMiB, mtime);
        putLarge(side / "media" / (v == "vA" ? "old0" : "old1"), v, 8, mtime);
        for (int f = 0; f < 10; ++f) putSmall(side, "docs/d" + d.substr(0, 1) + "/f" + std::to_string(f), v, mtime);
        for (int f = 0; f < 5; ++f) fs::remove(side / "docs" / ("d" + d.substr(1, 1)) / ("f" + std::to_string(f)));
        for (int f = 0; f < 20; ++f) putSmall(side, "docs/d" + d.substr(2, 1) + "/new" + v + std::to_string(f), v, mtime);
    }

    // On A as above; on B for a two-way job the same and two conflicts (B's later version of f0, A's of f1:
    // each replaced in its own direction before the large files), else edits A's versions will replace and
    // files only B holds.
    void change() {
        edit(a, "new", "019", "vA", t0 + 100);
        if (twoWay) {
            edit(b, "fromB", "238", "vB", t0 + 200);
            putSmall(a, "docs/d4/f0", "conflict vA", t0 + 100);
            putSmall(b, "docs/d4/f0", "conflict, B's later vB", t0 + 200);
            putSmall(a, "docs/d4/f1", "conflict, A's later vA", t0 + 300);
            putSmall(b, "docs/d4/f1", "conflict vB", t0 + 200);
        } else {
            for (int f = 0; f < 5; ++f) putSmall(b, "docs/d2/f" + std::to_string(f), "vB", t0 + 200);
            for (int f = 0; f < 5; ++f) putSmall(b, "docs/onlyB/x" + std::to_string(f), "vB", t0 + 200);
        }
    }
};

TEST_P(RsyncKillTest, AKilledRsyncFailsTheRunAndTheNextRunCompletesIt) {
    options = {"--mode", trial.mode, "--archive", trial.archive ? "on" : "off", "--force"};
    seed();
    ASSERT_TRUE(runToSuccess()) << contents(out);
    change();
    const Digests beforeA = digests(a), beforeB = digests(b);
    const Versions versions = held();

    // Caught while a large new file goes over (more follow it).
    const fs::path temporaries = (trial.intoA ? a : b) / ".KeltoSync/Temporary";
    const std::vector<pid_t> chain = killWhileWriting(temporaries, trial.intoA ? "fromB" : "new", trial.victim);
    const std::string killedRun = contents(out);
    ASSERT_EQ(chain.size(), 3u) << "no transfer was caught under way: " << killedRun;
    // Killed whole, nothing clears rsync's temporary until the next run; none may cross over.
    if (!trial.victim) {
        ASSERT_FALSE(fs::is_empty(temporaries)) << "nothing left to clear";
    }
    for (const auto until = SteadyClock::now() + 5s; !leftovers().empty() && SteadyClock::now() < until;)
        std::this_thread::sleep_for(5ms);
    EXPECT_EQ(leftovers(), std::vector<pid_t>{}) << "rsync processes outlived the driver";
    killLeftovers();
    EXPECT_FALSE(succeeded(killedRun)) << "the killed run passed for a success";

    // Each side holds only versions some side held before: nothing cut short, no stray temporary. The record
    // counts the files that reached a side, not those rsync named before it was killed.
    std::int64_t arrived = 0, arrivedBytes = 0;
    for (const auto& [before, side] : {std::pair{&beforeA, a}, std::pair{&beforeB, b}})
        for (const auto& [path, version] : digests(side)) {
            EXPECT_TRUE(versions.contains({path, version}) || version == "dir/") << side << " holds a new " << path;
            if (version != "dir/" && (!before->contains(path) || before->at(path) != version)) {
                ++arrived;
                arrivedBytes += std::stoll(version.substr(0, version.find('#')));
            }
        }
    if (trial.victim) {  // a driver killed too writes no record
        const Json killedStats = Json::parse(killedRun)["record"]["stats"];
        EXPECT_EQ(killedStats["filesCopied"], arrived) << killedRun;
        EXPECT_EQ(killedStats["bytesCopied"], arrivedBytes);
    }

    ASSERT_TRUE(runToSuccess()) << killedRun << "\nnext run: " << contents(out);
    const Digests afterA = digests(a), afterB = digests(b);
    EXPECT_TRUE(twoWay || afterA == beforeA) << "the source changed";
    for (const auto& [path, version] : afterA)
        EXPECT_EQ(afterB.contains(path) ? afterB.at(path) : "", version) << path << " is not as on A";
    EXPECT_TRUE(trial.mode == "copy" || afterA == afterB) << "the sides differ";
    for (const auto& version : held()) EXPECT_TRUE(versions.contains(version)) << "a new " << version.first;
    if (trial.archive) expectNoneLost(versions, "the next run");
    for (const fs::path& side : {a, b})
        for (const char* scratch : {"Temporary", "Partial"})
            EXPECT_TRUE(!fs::exists(side / ".KeltoSync" / scratch) || fs::is_empty(side / ".KeltoSync" / scratch))
                << "an unfinished file stayed in " << side.filename() << "/.KeltoSync/" << scratch;
    if (!twoWay) return;
    // Run once more: each conflict is named once over all logs, its loser archived where the job keeps them.
    ASSERT_TRUE(runToSuccess()) << contents(out);
    std::string text;
    for (const fs::path& log : logs()) text += contents(log);
    for (const auto& [path, kept, loser, loserSide] :
         {std::tuple{"docs/d4/f0", "B's", "conflict vA", a}, {"docs/d4/f1", "A's", "conflict vB", b}}) {
        const std::string line = std::string("Conflict, ") + kept + " version kept: " + path + "\n";
        std::size_t named = 0;
        for (std::size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) ++named;
        EXPECT_EQ(named, 1u) << path << " in the logs:\n" << text;
        bool archived = false;
        std::error_code ec;
        for (const auto& entry : fs::recursive_directory_iterator(loserSide / ".KeltoSync/Archive", ec))
            archived = archived || (entry.path().native().ends_with(std::string("/") + path) &&
                                    contents(entry.path()).find(loser) != std::string::npos);
        EXPECT_EQ(archived, trial.archive) << path << "'s loser";
    }
}

std::vector<Trial> trials() {
    std::vector<Trial> out;
    for (Victim victim : {Victim::sender, Victim::generator, Victim::receiver})
        for (const auto& [mode, intoA] : {std::pair{"twoWay", false}, {"twoWay", true}, {"mirror", false}, {"copy", false}})
            out.push_back({mode, intoA, victim});
    // Killed whole, and without the archive (before the conflicts' losers were replaced, or after).
    for (const auto& [intoA, victim, archive] : {std::tuple{false, std::optional<Victim>{}, true},
                                                 {true, std::optional<Victim>{}, false}, {false, {Victim::receiver}, false}})
        out.push_back({"twoWay", intoA, victim, archive});
    return out;
}

std::string trialName(const ::testing::TestParamInfo<Trial>& info) {
    static const char* victims[] = {"Sender", "Generator", "Receiver"};
    const Trial& t = info.param;
    return t.mode + (t.mode == "twoWay" ? (t.intoA ? "_BtoA_" : "_AtoB_") : "_") +
           (t.victim ? victims[static_cast<int>(*t.victim)] : "Whole") + (t.archive ? "" : "_ArchiveOff");
}

void PrintTo(const Trial& t, std::ostream* out) { *out << trialName({t, 0}); }

INSTANTIATE_TEST_SUITE_P(EachModeAndDepth, RsyncKillTest, ::testing::ValuesIn(trials()), trialName);

// A transfer into a mount below B makes its temporaries beside the files. rsync killed whole (as a power
// loss would) or only its receiver: the run going on, or the next, clears those of the recorded copies, and
// none of the user's items that only look like one.
class RsyncKillMountBelowTest : public DriverTest, public ::testing::WithParamInterface<bool> {};

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
    const std::vector<pid_t> chain = caught ? rsyncChain(driver) : std::vector<pid_t>{};
    if (whole || chain.size() != 3)
        killWhole(driver, chain);
    else
        ::kill(chain[static_cast<std::size_t>(Victim::receiver)], SIGKILL);
    ASSERT_TRUE(waitFor(driver, 30s)) << "the driver did not end";
    ASSERT_TRUE(caught) << "no temporary appeared: " << contents(out);
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
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Whole" : "Receiver"; });

class TwoWayCrashTest : public DriverTest {};

TEST_F(TwoWayCrashTest, KillingTheRunnerAtAnyMomentLosesNoVersion) {
    const char* seed = std::getenv("KELTO_CRASH_SEED");
    std::mt19937 rng(seed ? static_cast<unsigned>(std::stoul(seed)) : 20'240'607u);
    const auto pick = [&](unsigned n) { return static_cast<int>(rng() % n); };
    // Edits, deletions and new files on both sides, and one conflict whose sides' sizes differ.
    const auto change = [&](int trial) {
        for (int i = 0; i < 4; ++i) {
            const std::string name = "d" + std::to_string(pick(3)) + "/f" + std::to_string(pick(12));
            const fs::path side = pick(2) ? a : b;
            if (fs::exists(side / name) && pick(3) == 0)
                fs::remove(side / name);
            else
                putAt(side / name, name + " v" + std::to_string(trial) + side.filename().native() + std::string(pick(4000), '.'),
                      t0 + trial * 10 + i);
        }
        putAt(a / "d0/conflict", "A " + std::to_string(trial), t0 + trial * 10);
        putAt(b / "d0/conflict", "B's " + std::to_string(trial), t0 + trial * 10 + pick(3));
    };
    // Started, once it began (a new log) or ended.
    const auto startBegun = [&] {
        const std::set<fs::path> before = logs();
        const pid_t pid = start();
        while (logs() == before && !hasEnded(pid)) std::this_thread::sleep_for(200us);
        return pid;
    };
    // How long a run lasts, to spread the kills over it.
    std::chrono::microseconds span{1};
    const auto timedRun = [&] {
        const pid_t pid = startBegun();
        const auto began = SteadyClock::now();
        ::waitpid(pid, nullptr, 0);
        span = std::chrono::duration_cast<std::chrono::microseconds>(SteadyClock::now() - began);
        return succeeded(contents(out));
    };
    for (int i = 0; i < 24; ++i) putAt(a / ("d" + std::to_string(i % 3)) / ("f" + std::to_string(i)), "first", t0);
    ASSERT_TRUE(timedRun()) << contents(out);
    change(0);
    ASSERT_TRUE(timedRun()) << contents(out);
    int interrupted = 0;
    for (int trial = 1; trial <= 20; ++trial) {
        SCOPED_TRACE(trial);
        change(trial);
        const Versions before = held();
        const pid_t pid = startBegun();
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % static_cast<unsigned>(std::max<std::int64_t>(span.count(), 1))));
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        killLeftovers();
        if (contents(out).empty()) ++interrupted;
        ASSERT_TRUE(timedRun()) << contents(out);
        ASSERT_TRUE(tree(a) == tree(b));
        expectNoneLost(before, "the run after the kill");
    }
    EXPECT_GT(interrupted, 5);  // most kills land inside a run
}

}  // namespace
}  // namespace kelto::test
