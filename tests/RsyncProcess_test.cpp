// rsync's children: how RsyncProcess starts, feeds and ends them, and kelto-run-job's rsync (or the whole
// driver) killed mid-transfer or at random: the next run finishes the work and no version is lost or cut short.

#include "SyncEngine/ExitClass.h"
#include "SyncEngine/RsyncProcess.h"
#include "SyncModel/Support/FileDescriptor.h"
#include "tests/TwoWayEngineFixture.h"
#include "tests/support/ChildProcess.h"

#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <random>
#include <string_view>
#include <thread>

namespace kelto::test {
namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;
using Mode = RsyncOutputParser::Mode;

// Whether the process ends (or has ended) within the time, waited for by its pidfd; it need not be our child.
bool endsWithin(pid_t pid, std::chrono::milliseconds limit) {
    const FileDescriptor fd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    if (!fd.valid()) return errno == ESRCH;
    pollfd ended{fd.get(), POLLIN, 0};
    return ::poll(&ended, 1, static_cast<int>(limit.count())) > 0;
}

constexpr int largeMiB = 16;  // three of these keep a transfer going long enough to be caught

// Each file's size and content hash ("dir/" for a folder) by path: the large files are too large to hold.
using Digests = std::map<std::string, std::string>;
using Versions = std::set<std::pair<std::string, std::string>>;

std::string digest(const fs::path& file) {
    const std::string content = contents(file);
    return std::to_string(content.size()) + "#" + std::to_string(std::hash<std::string>{}(content));
}

Digests digests(const fs::path& root) { return fs::exists(root) ? tree(root, digest) : Digests{}; }

// A file of `mebibytes` whose content the tag makes its own.
void putLarge(const fs::path& file, const std::string& tag, int mebibytes, std::int64_t mtime) {
    const std::size_t size = (std::size_t{1} << 20) * static_cast<std::size_t>(mebibytes);
    putAt(file, tag + std::string(size - tag.size(), '.'), mtime);
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

using NameTest = std::function<bool(const std::string&)>;

// Whether the process is stopped or gone: a stop signal takes effect only when the process next runs.
bool stoppedOrGone(pid_t pid) {
    const std::string stat = contents("/proc/" + std::to_string(pid) + "/stat");
    const std::size_t close = stat.rfind(')');
    return close == std::string::npos || close + 2 >= stat.size() ||
           std::string_view("TtZX").find(stat[close + 2]) != std::string_view::npos;
}

// The whole chain, stopped while a temporary `isTemporary` knows stands; less, still running, when none was caught
// in time. Looked at again once stopped: on a busy machine rsync may finish the file between a look and a kill.
std::vector<pid_t> catchWriting(pid_t driver, const fs::path& temporaries, const NameTest& isTemporary) {
    const auto writing = [&] {
        std::error_code ec;
        for (fs::directory_iterator it(temporaries, ec), end; !ec && it != end; it.increment(ec))
            if (isTemporary(it->path().filename())) return true;
        return false;
    };
    std::vector<pid_t> chain;
    for (const auto until = SteadyClock::now() + 30s; SteadyClock::now() < until && !endsWithin(driver, 0ms);
         std::this_thread::sleep_for(200us)) {
        if (!writing() || (chain = rsyncChain(driver)).size() != 3) continue;
        const pid_t group = ::getpgid(chain.front());
        ::kill(-group, SIGSTOP);
        while (!std::ranges::all_of(chain, stoppedOrGone)) std::this_thread::sleep_for(100us);
        if (writing()) return chain;
        ::kill(-group, SIGCONT);
    }
    return chain;
}

bool succeeded(const std::string& report) { return report.find("\"outcome\":\"success\"") != std::string::npos; }

// The process of rsync's chain to kill, by its depth below the driver.
enum class Victim { sender, generator, receiver };

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
    // Whether the driver ended in time; one that hangs is killed whole.
    bool reap(pid_t driver, std::chrono::seconds limit) const {
        const bool ended = endsWithin(driver, limit);
        if (!ended) killWhole(driver, {});
        ::waitpid(driver, nullptr, 0);
        return ended;
    }
    // A run left alone; false when it fails or hangs.
    bool runToSuccess() { return reap(start(), 60s) && succeeded(contents(out)); }
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
    // Stopped first so that it never sees its rsync end, then all at once as a power loss would; left to reap.
    void killWhole(pid_t driver, const std::vector<pid_t>& chain) const {
        ::kill(driver, SIGSTOP);
        if (!chain.empty()) ::kill(-::getpgid(chain.front()), SIGKILL);
        ::kill(driver, SIGKILL);
        killLeftovers();
    }
    // Kills `victim` once rsync writes a temporary; without one (or no chain caught), all at once.
    std::vector<pid_t> killWhileWriting(const fs::path& temporaries, const NameTest& isTemporary,
                                        std::optional<Victim> victim) const {
        const pid_t driver = start();
        const std::vector<pid_t> chain = catchWriting(driver, temporaries, isTemporary);
        if (victim && chain.size() == 3) {
            const pid_t group = ::getpgid(chain.front());
            ::kill(chain[static_cast<std::size_t>(*victim)], SIGKILL);
            ::kill(-group, SIGCONT);
        } else {
            killWhole(driver, chain);
        }
        if (!reap(driver, 30s)) ADD_FAILURE() << "the driver did not end after its rsync was killed";
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
            for (const fs::path& place : places)
                for (const auto& version : digests(place)) kept.insert(version);
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
    // Two-way, B changes too and f0 (B's later) and f1 (A's later) conflict, each replaced before the large
    // files; else B holds edits A's versions replace and files only B holds.
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
    const std::string trigger = trial.intoA ? "fromB" : "new";
    // rsync names a temporary after its file: the name, a dot and six characters.
    const std::vector<pid_t> chain = killWhileWriting(temporaries, [&](const std::string& name) {
        return name.starts_with(trigger) && name.size() == trigger.size() + 8 &&
               std::isdigit(static_cast<unsigned char>(name[trigger.size()]));
    }, trial.victim);
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

    // Nothing cut short, no stray temporary; the record counts what reached a side, not what rsync named.
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

// A transfer into a mount below B makes its temporaries beside the files: those of the recorded copies are
// cleared, none of the user's items that only look like one.
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
    const std::vector<pid_t> chain =
        killWhileWriting(b / "d0", isTemporary, whole ? std::nullopt : std::optional{Victim::receiver});
    ASSERT_EQ(chain.size(), 3u) << "no temporary caught: " << contents(out);
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
        while (logs() == before && !endsWithin(pid, 0ms)) std::this_thread::sleep_for(200us);
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

// A stopped token starts nothing, not even a missing program; a program that cannot start throws.
TEST(RsyncProcess, ARunThatNeverStartsDeliversNothing) {
    TemporaryFolder dir;
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
    TemporaryFolder dir;
    const std::pair<const char*, const char*> variables[]{
        {"LC_ALL", "de_DE.UTF-8"}, {"TZ", "Europe/Berlin"}, {"KELTO_PROBE", "kept"}};
    for (const auto& [name, value] : variables) ::setenv(name, value, 1);
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
    for (const auto& [name, value] : variables) ::unsetenv(name);
    EXPECT_EQ(exit.code, 0);
    const auto lines = capture.diagnostics();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(std::vector(lines.begin(), lines.begin() + 2),
              (std::vector<std::string>{"LC_ALL=C TZ=UTC0 KELTO_PROBE=kept", "SigBlk:\t0000000000000000"}));
    // glibc's spawn ignores its own two internal signals; ours must be clear.
    ASSERT_EQ(lines[2].rfind("SigIgn:\t", 0), 0u);
    const auto ignored = std::stoull(lines[2].substr(8), nullptr, 16);
    EXPECT_EQ(ignored & ((1ull << (SIGPIPE - 1)) | (1ull << (SIGTERM - 1))), 0u) << lines[2];
}

TEST(RsyncProcess, TheChildDiesWithTheProcessThatStartedIt) {
    TemporaryFolder dir;
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
    while (!std::filesystem::exists(pidFile) && !endsWithin(runner, 10ms)) {
    }
    pid_t child = -1;
    std::ifstream(pidFile) >> child;
    ::kill(runner, SIGKILL);
    ::waitpid(runner, nullptr, 0);
    ASSERT_GT(child, 0);
    const bool died = endsWithin(child, 5s);
    if (!died) ::kill(child, SIGKILL);
    EXPECT_TRUE(died) << "rsync outlived the process that started it";
}

TEST(RsyncProcess, UnterminatedLastLinesArriveRawAndParsed) {
    TemporaryFolder dir;
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
    TemporaryFolder dir;
    std::filesystem::create_directories(dir / "source folder");
    std::filesystem::create_directories(dir / "destination");
    // The source operand is the last but one.
    const auto script = dir.script("vanished.sh",
                                   "for a; do src=$dst; dst=$a; done\n"
                                   "echo \"file has vanished: \\\"${src}gone\\\"\" >&2\n"
                                   "echo \"rsync: read errors mapping \\\"${src}sub/x\\\": ${src}\" >&2\n"
                                   "exit 24");
    const FileDescriptor source(::open((dir / "source folder").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const FileDescriptor destination(::open((dir / "destination").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    Capture capture;
    const auto exit = RsyncProcess{script}.runBetween(source.get(), destination.get(), {"--x", "a/", "b/"},
                                                      Mode::transfer, {}, capture.rawHandler(), capture.eventHandler());
    const std::string folder = std::filesystem::canonical(dir / "source folder").native() + "/";
    const std::vector<std::string> expected{"file has vanished: \"" + folder + "gone\"",
                                            "rsync: read errors mapping \"" + folder + "sub/x\": " + folder};
    EXPECT_EQ(exit, RsyncExit(24, expected));
    EXPECT_EQ(capture.diagnostics(), expected);
    EXPECT_EQ(capture.raw, expected);
}

// In a child: copies dir/source into dir/destination between held folders (at descriptors 1 and 2 where
// asked); exits 0 once the file arrived, 1: rsync failed, 2: nothing copied, 4: it threw, 5: not at 1 and 2.
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

// The second copy runs in a PID namespace on a /proc not its own.
TEST(RsyncProcess, HeldFoldersReachRsyncAtTheStandardDescriptorsAndInAnotherPidNamespace) {
    TemporaryFolder dir;
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
    TemporaryFolder dir;
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
    TemporaryFolder dir;
    const auto script = dir.script("pid.sh", "echo $$\nexec sleep 600");
    pid_t pid = 0;
    EXPECT_THROW(RsyncProcess{script}.run({}, Mode::transfer, {}, nullptr,
                                          [&](RsyncEvent&& e) {
                                              pid = std::stoi(*e.asDiagnostic());
                                              throw std::logic_error("engine failed");
                                          }),
                 std::logic_error);
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(endsWithin(pid, 0ms));
}

TEST(RsyncProcess, ASignalFromElsewhereIsNamedInWords) {
    TemporaryFolder dir;
    for (const auto& [signal, words] : {std::pair{"KILL", "SIGKILL (Killed)"}, std::pair{"TERM", "SIGTERM (Terminated)"},
                                        std::pair{"ABRT", "SIGABRT (Aborted)"}, std::pair{"SEGV", "SIGSEGV"}}) {
        SCOPED_TRACE(signal);
        const auto script = dir.script(std::string("die-") + signal + ".sh",
                                       std::string("echo 'rsync: last words' >&2\nkill -") + signal + " $$");
        Capture capture;
        const auto exit = RsyncProcess{script}.run({}, Mode::transfer, {}, capture.rawHandler(), capture.eventHandler());
        EXPECT_EQ(exit.stderrTail,
                  (std::vector<std::string>{"rsync: last words", RsyncProcess::abnormalEndLine(exit.code)}));
        EXPECT_NE(RsyncProcess::abnormalEndLine(exit.code).find(words), std::string::npos) << exit.code;
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
    TemporaryFolder dir;
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
    const bool escapedAlive = !endsWithin(escapedPid, 0ms);
    ::kill(escapedPid, SIGKILL);
    EXPECT_EQ(exit.code, 3);  // not a cancellation: the child's own status
    const auto lines = capture.diagnostics();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(std::set(lines.begin(), lines.begin() + 2), (std::set<std::string>{"done", "late"}));
    EXPECT_EQ(lines[2].rfind("Output abandoned", 0), 0u);
    EXPECT_EQ(exit.stderrTail.size(), 1u);
    EXPECT_GE(elapsed, 1.9);  // without the grace's end the run would wait for the holders
    EXPECT_TRUE(endsWithin(std::stoi(readFile(inGroup)), 10s));
    EXPECT_TRUE(escapedAlive);  // out of our reach; only its pipe was let go
}

}  // namespace
}  // namespace kelto::test
