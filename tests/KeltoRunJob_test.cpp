// Black-box checks of kelto-run-job's per-side options and its report: the
// plan's lists with their sides, a failed scan's exit, the guard's input, and
// two launches on one job.

#include "tests/TwoWayEngineFixture.h"
#include "tests/support/ChildProcess.h"

#include "SyncEngine/OneWayEngineError.h"
#include "SyncModel/Support/FileDescriptor.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <tuple>

namespace kelto::test {
namespace {

using Pairs = std::set<std::pair<std::string, std::string>>;

struct ToolResult {
    int status = -1;
    Json out;
};

class KeltoRunJobTest : public ::testing::Test {
protected:
    TemporaryFolder tmp;
    fs::path a = tmp / "a", b = tmp / "b";

    void SetUp() override {
        fs::create_directories(a);
        fs::create_directories(b);
    }

    // Runs the tool on a and b with `options` before the folders.
    ToolResult run(std::vector<std::string> options) const {
        const fs::path out = tmp / "out.json";
        std::vector<std::string> args{KELTO_RUN_JOB};
        args.insert(args.end(), options.begin(), options.end());
        for (const fs::path& f : {a, b, tmp / "support", tmp / "logs"}) args.push_back(f);
        const pid_t pid = startWithOutput(args, tmp / "tmpdir", out);
        int status = 0;
        ::waitpid(pid, &status, 0);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Json::parse(contents(out))};
    }

    // (path, side) of each item of one of the plan's lists.
    static Pairs listed(const Json& out, const char* list, const char* key) {
        Pairs items;
        for (const Json& item : out.at("planLists").at(list))
            items.emplace(item.at("path").get<std::string>(), item.at(key).get<std::string>());
        return items;
    }
};

TEST_F(KeltoRunJobTest, TwoWayPlanListsCopiesArchivesAndConflictsWithTheirSides) {
    for (const char* name : {"same", "conflict", "gone"}) {
        putAt(a / name, "old", t0);
        putAt(b / name, "old", t0);
    }
    ASSERT_EQ(run({"--mode", "twoWay"}).out.at("outcome"), "success");

    putAt(a / "onlyA", "new on A", t0 + 10);
    putAt(a / "odd\xff name", "a name that is not UTF-8", t0 + 10);
    putAt(b / "onlyB", "new on B", t0 + 10);
    putAt(a / "conflict", "A's edit", t0 + 20);
    putAt(b / "conflict", "B's later edit", t0 + 30);
    fs::remove(b / "gone");

    const auto [status, out] = run({"--mode", "twoWay", "--plan-only", "--list-plan"});
    ASSERT_EQ(status, 0) << out;
    EXPECT_EQ(listed(out, "copies", "to"), (Pairs{{"onlyA", "b"},
                                                  {"odd\xEF\xBF\xBD name", "b"},
                                                  {"onlyB", "a"},
                                                  {"conflict", "a"}}));
    // B's later edit wins: the losing version of the conflict is archived on
    // the side it is copied to.
    EXPECT_EQ(listed(out, "archives", "on"), (Pairs{{"gone", "a"}, {"conflict", "a"}}));
    EXPECT_EQ(out["planLists"]["conflicts"], Json{"conflict"});
    EXPECT_EQ(out["planLists"]["skipped"], Json::array());
    EXPECT_EQ(out["plan"]["conflicts"], 1);
    EXPECT_FALSE(out.contains("outcome")) << "a preview runs nothing";
    EXPECT_FALSE(out.contains("record"));
    EXPECT_FALSE(fs::exists(b / "onlyA"));
}

// Each side's file system and case sensitivity reach the preflight on their
// own: a type keeps its size limit under an explicit case sensitivity (FAT
// folds names whatever the command line says), and a case-sensitive type can
// be made to fold names.
TEST_F(KeltoRunJobTest, FileSystemAndCaseSensitivityAreSetPerSideIndependently) {
    putAt(a / "Notes", "one", t0);
    putAt(a / "NOTES", "two", t0);
    putAt(a / "new", "new", t0);
    putAt(a / "huge", "", t0);
    fs::resize_file(a / "huge", 5LL << 30);  // sparse
    putAt(b / "extra", "extra", t0);

    const Pairs collision{{"Notes", "caseCollision"}, {"NOTES", "caseCollision"}};
    const Pairs tooLarge{{"huge", "tooLargeForFAT"}};
    Pairs both = collision;
    both.insert(tooLarge.begin(), tooLarge.end());
    const std::vector<std::pair<std::vector<std::string>, Pairs>> cases{
        {{}, {}},
        {{"--fs-type", "vfat"}, both},
        {{"--fs-type-b", "ext4", "--case-sensitive-b", "no"}, collision},
        {{"--fs-type-b", "vfat", "--case-sensitive-b", "yes"}, both},
        {{"--fs-type-a", "vfat", "--case-sensitive-a", "no"}, {}},  // a source's traits do not matter
    };
    for (const auto& [options, skipped] : cases) {
        std::vector<std::string> args{"--plan-only", "--list-plan"};
        args.insert(args.end(), options.begin(), options.end());
        const auto [status, out] = run(args);
        SCOPED_TRACE(out.dump());
        ASSERT_EQ(status, 0);
        EXPECT_EQ(listed(out, "skipped", "reason"), skipped);
        Pairs copies;
        for (const char* name : {"Notes", "NOTES", "new", "huge"})
            if (std::none_of(skipped.begin(), skipped.end(), [&](const auto& s) { return s.first == name; }))
                copies.emplace(name, "b");
        EXPECT_EQ(listed(out, "copies", "to"), copies);
        EXPECT_EQ(listed(out, "archives", "on"), (Pairs{{"extra", "b"}}));
        EXPECT_EQ(out["planLists"]["conflicts"], Json::array());
    }
}

// In a two-way job side A's settings judge what is copied to A, B's what is copied to B.
TEST_F(KeltoRunJobTest, TwoWaySideOptionsApplyToTheReceivingSide) {
    putAt(b / "Notes", "one", t0);
    putAt(b / "NOTES", "two", t0);
    putAt(a / "new", "new", t0);

    auto skipped = [&](const std::vector<std::string>& options) {
        std::vector<std::string> args{"--mode", "twoWay", "--plan-only", "--list-plan"};
        args.insert(args.end(), options.begin(), options.end());
        const ToolResult result = run(args);
        EXPECT_EQ(result.status, 0) << result.out;
        return listed(result.out, "skipped", "reason");
    };
    EXPECT_EQ(skipped({"--case-sensitive-a", "no"}), (Pairs{{"Notes", "caseCollision"}, {"NOTES", "caseCollision"}}));
    EXPECT_EQ(skipped({"--fs-type-a", "exfat"}), (Pairs{{"Notes", "caseCollision"}, {"NOTES", "caseCollision"}}));
    EXPECT_EQ(skipped({"--case-sensitive-b", "no", "--fs-type-b", "vfat"}), Pairs{});
}

// A listing or dry run that fails: a preview reports rsync's code and the
// end of its error output; a run ends by that exit, the failed scan in its
// record's errors.
TEST_F(KeltoRunJobTest, AFailedScanReportsItsExitCodeAndErrorTail) {
    putAt(a / "file", "x", t0);
    for (const auto& [mode, code, outcome] : {std::tuple{"mirror", 23, Json{{"outcome", "completedWithErrors"}}},
                                              std::tuple{"twoWay", 12, Json{{"outcome", "failed"},
                                                                            {"message", "rsync error: gave up (code 12)"}}}}) {
        const std::string tail = "rsync error: gave up (code " + std::to_string(code) + ")";
        const fs::path rsync = tmp.script("fake-rsync", "echo 'rsync: first complaint' >&2\n"
                                                     "echo '" + tail + "' >&2\nexit " + std::to_string(code));
        const auto [status, out] = run({"--mode", mode, "--rsync", rsync, "--plan-only"});
        SCOPED_TRACE(out.dump());
        EXPECT_EQ(status, 2);
        EXPECT_EQ(out["error"]["code"], "scanFailed");
        EXPECT_EQ(out["error"]["exit"]["code"], code);
        EXPECT_EQ(out["error"]["exit"]["stderrTail"], (Json{"rsync: first complaint", tail}));

        const auto [runStatus, ran] = run({"--mode", mode, "--rsync", rsync});
        SCOPED_TRACE(ran.dump());
        EXPECT_EQ(runStatus, 1);
        for (const auto& [key, value] : outcome.items()) EXPECT_EQ(ran[key], value) << key;
        EXPECT_EQ(ran["record"]["stats"]["errors"],
                  Json{"scanFailed(code: " + std::to_string(code) + ", stderr: [\"rsync: first complaint\", \"" + tail +
                       "\"])"});
    }
}

// With something to do, a confirmed mirror runs rsync three times (the
// plan's dry run, the fresh one before the transfer, the transfer); one
// whose plan is a moment old, and a copy, twice; each run's time is reported.
TEST_F(KeltoRunJobTest, OneWayTimingListsEachRsyncRun) {
    for (const auto& [mode, confirmed, runs] : {std::tuple{"mirror", true, 3}, std::tuple{"mirror", false, 2},
                                                std::tuple{"copy", false, 2}}) {
        putAt(a / (std::string(mode) + std::to_string(runs)), "x", t0);
        std::vector<std::string> arguments{"--mode", mode, "--archive", "off"};
        if (confirmed) arguments.push_back("--confirm");
        const auto [status, out] = run(arguments);
        SCOPED_TRACE(out.dump());
        ASSERT_EQ(status, 0);
        const Json& timing = out.at("timing");
        ASSERT_EQ(timing.at("rsyncPassSeconds").size(), static_cast<std::size_t>(runs));
        EXPECT_EQ(timing.at("rsyncRuns"), runs);
        double sum = 0;
        for (const Json& seconds : timing.at("rsyncPassSeconds")) {
            EXPECT_GT(seconds.get<double>(), 0.0);
            sum += seconds.get<double>();
        }
        EXPECT_NEAR(sum, timing.at("rsyncSeconds").get<double>(), 1e-9);
    }
}

// The counts stored with a baseline reach the guard only for the volumes the
// baseline was taken on: another disk at the same folder is not "emptied".
TEST_F(KeltoRunJobTest, TheGuardGetsPreviousCountsOnlyForTheBaselinesVolumes) {
    const std::vector<std::string> recorded{"--mode", "twoWay", "--volume-a", "VOLUME-A", "--volume-b", "VOLUME-B"};
    putAt(a / "one", "1", t0);
    putAt(a / "two", "2", t0);
    ASSERT_EQ(run(recorded).out.at("outcome"), "success");
    const std::map<std::string, std::string> both{{"one", "1"}, {"two", "2"}};
    auto emptyA = [&] {
        fs::remove(a / "one");
        fs::remove(a / "two");
    };
    emptyA();

    // Two files on each side last time: A is now "emptied".
    const auto stopped = run(recorded);
    EXPECT_EQ(stopped.status, 1) << stopped.out;
    EXPECT_EQ(stopped.out["outcome"], "failed");
    EXPECT_EQ(stopped.out["message"], "A previously populated side is empty \u2014 is the right disk connected?");
    EXPECT_EQ(tree(b), both);

    for (const auto& options : {std::vector<std::string>{"--mode", "twoWay", "--volume-a", "OTHER-A", "--volume-b",
                                                         "VOLUME-B"},
                                std::vector<std::string>{"--mode", "twoWay"}}) {
        const auto other = run(options);
        SCOPED_TRACE(other.out.dump());
        EXPECT_EQ(other.status, 0);
        EXPECT_EQ(other.out["outcome"], "success");
        // No baseline for these volumes: B's files are new to A.
        EXPECT_EQ(other.out["record"]["stats"]["filesCopied"], 2);
        EXPECT_EQ(tree(a), both);
        emptyA();
    }
}

// Two launches of the driver on one job: the second ends at once while the
// first runs, and nothing is copied or archived twice.
TEST_F(KeltoRunJobTest, TwoLaunchesOnOneJobRunItOnceAndTheSecondEndsAtOnce) {
    for (const char* name : {"f1", "f2", "f3"}) {
        putAt(a / name, std::string("new ") + name, t0 + 10);
        putAt(b / name, std::string("old ") + name, t0);
    }
    // An rsync that holds each transfer until the test lets it go, telling
    // the test when one has come that far.
    for (const char* fifo : {"reached", "gate"}) ASSERT_EQ(::mkfifo((tmp / fifo).c_str(), 0600), 0);
    const fs::path rsync = tmp.script(
        "gated-rsync", "case \" $* \" in *\" --dry-run \"*|*\" --list-only \"*) ;;\n"
                       "*) echo reached > '" + (tmp / "reached").native() + "'; cat '" + (tmp / "gate").native() +
                           "' > /dev/null;;\nesac\nexec '" + RsyncLocator::requireExecutable(KELTO_BUNDLE_DIR).native() +
                           "' \"$@\"");
    const FileDescriptor reached(::open((tmp / "reached").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    ASSERT_TRUE(reached.valid());
    auto start = [&](const fs::path& out) {
        std::vector<std::string> args{KELTO_RUN_JOB, "--rsync", rsync};
        for (const fs::path& f : {a, b, tmp / "support", tmp / "logs"}) args.push_back(f);
        return startWithOutput(args, tmp / "tmpdir", out);
    };
    // What came first within the limit: the process's end, or a line in the FIFO.
    enum class First { ended, line, nothing };
    auto waitFor = [](pid_t pid, int fifo, int seconds) {
        const FileDescriptor exited(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
        pollfd watch[2] = {{exited.get(), POLLIN, 0}, {fifo, POLLIN, 0}};
        if (::poll(watch, fifo < 0 ? 1 : 2, seconds * 1000) <= 0) return First::nothing;
        return (watch[0].revents & POLLIN) ? First::ended : First::line;
    };

    const pid_t first = start(tmp / "first.json");
    ASSERT_EQ(waitFor(first, reached.get(), 60), First::line) << "the first run never reached its transfer";
    const pid_t second = start(tmp / "second.json");
    EXPECT_EQ(waitFor(second, -1, 30), First::ended) << "the second run did not end while the first one held the job";

    // Let every transfer go on, then collect both.
    ::close(::open((tmp / "gate").c_str(), O_WRONLY | O_CLOEXEC));
    int status = 0;
    ::waitpid(first, &status, 0);
    ::waitpid(second, nullptr, 0);
    const Json firstOut = Json::parse(contents(tmp / "first.json"));
    const Json secondOut = Json::parse(contents(tmp / "second.json"));
    EXPECT_EQ(firstOut["outcome"], "success") << firstOut;
    EXPECT_EQ(secondOut["outcome"], "failed") << secondOut;
    EXPECT_EQ(secondOut["message"], "This job is already running in another Kelto Sync process");
    EXPECT_FALSE(secondOut.contains("log"));
    EXPECT_FALSE(secondOut["record"].contains("logPath"));

    EXPECT_EQ(tree(b), tree(a));
    EXPECT_EQ(firstOut["record"]["stats"]["filesCopied"], 3);
    std::multiset<std::string> archived;
    for (const auto& entry : fs::recursive_directory_iterator(b / ".KeltoSync/Archive"))
        if (entry.is_regular_file()) archived.insert(entry.path().filename());
    EXPECT_EQ(archived, (std::multiset<std::string>{"f1", "f2", "f3"}));
    const Json history = Json::parse(contents(tmp / "support/history" / (firstOut["job"].get<std::string>() + ".json")));
    ASSERT_EQ(history.size(), 1u);
    EXPECT_EQ(history[0], firstOut["record"]);
    std::size_t logs = 0;
    for (const auto& entry : fs::recursive_directory_iterator(tmp / "logs")) logs += entry.is_regular_file();
    EXPECT_EQ(logs, 1u);
}

// w/real/inner shown a second time at w/other: neither path leads into the
// other, so only the file system's own view tells that one side holds the
// other. Each run is refused before rsync starts, nothing written.
TEST_F(KeltoRunJobTest, ASideInsideTheOtherThroughABindMountIsRefusedInBothDirections) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to bind-mount a folder";
    const fs::path real = tmp / "w/real", other = tmp / "w/other";
    fs::create_directories(real / "d");
    fs::create_directories(real / "inner");
    fs::create_directories(other);
    tmp.write("w/real/d/f1.txt", "x");
    if (::mount((real / "inner").c_str(), other.c_str(), nullptr, MS_BIND, nullptr) != 0)
        GTEST_SKIP() << "cannot bind-mount here: " << std::strerror(errno);
    // Detached before the temporary folder goes, so its removal never walks
    // into w/real/inner twice.
    const std::unique_ptr<const fs::path, void (*)(const fs::path*)> unmount(
        &other, [](const fs::path* p) { ::umount2(p->c_str(), MNT_DETACH); });

    for (const auto& [sideA, sideB] : {std::pair{real, other}, std::pair{other, real}}) {
        a = sideA;
        b = sideB;
        SCOPED_TRACE(a.native() + " | " + b.native());
        Json out = run({"--mode", "twoWay"}).out;
        EXPECT_EQ(out.value("outcome", ""), "failed") << out;
        EXPECT_EQ(out.value("message", ""), TwoWayEngineError::nestedEndpoints().what());
        out = run({"--mode", "mirror", "--archive", "off"}).out;
        EXPECT_EQ(out.value("outcome", ""), "failed") << out;
        EXPECT_EQ(out.value("message", ""), OneWayEngineError::nestedEndpoints().what());
        out = run({"--mode", "copy", "--plan-only"}).out;
        EXPECT_EQ(out.value("error", Json::object()).value("code", ""), "nestedEndpoints") << out;
    }
    EXPECT_EQ(contents(real / "d/f1.txt"), "x");
    EXPECT_FALSE(fs::exists(real / "inner/.KeltoSync"));
    EXPECT_FALSE(fs::exists(real / ".KeltoSync"));
}

}  // namespace
}  // namespace kelto::test
