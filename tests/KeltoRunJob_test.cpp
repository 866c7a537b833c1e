// Black-box checks of kelto-run-job's per-side options and its report: the
// plan's lists with their sides, a failed scan's exit, and the guard's input.

#include "tests/TwoWayEngineFixture.h"
#include "tests/support/ChildProcess.h"

#include <sys/wait.h>

#include <set>

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
    // The losing version of the conflict is archived on the side it is copied to.
    EXPECT_EQ(listed(out, "archives", "on"), (Pairs{{"gone", "a"}, {"conflict", "a"}}));
    EXPECT_EQ(listed(out, "conflicts", "resolution"), (Pairs{{"conflict", "bWins"}}));
    EXPECT_EQ(out["planLists"]["skipped"], Json::array());
    EXPECT_EQ(out["plan"]["conflicts"], 1);
    EXPECT_FALSE(out["ran"].get<bool>());
    EXPECT_FALSE(fs::exists(b / "onlyA"));
}

// Each side's file system and case sensitivity reach the preflight on their
// own: a type keeps its size limit under an explicit case sensitivity, and a
// case-sensitive type can be made to fold names.
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
        {{"--fs-type-b", "vfat", "--case-sensitive-b", "yes"}, tooLarge},
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

// A listing or dry run that fails reports rsync's code and the end of its error output.
TEST_F(KeltoRunJobTest, AFailedScanReportsItsExitCodeAndErrorTail) {
    putAt(a / "file", "x", t0);
    for (const auto& [mode, code] : {std::pair{"mirror", 23}, std::pair{"twoWay", 12}}) {
        const fs::path rsync = tmp.script("fake-rsync", "echo 'rsync: first complaint' >&2\n"
                                                     "echo 'rsync error: gave up (code " +
                                                         std::to_string(code) + ")' >&2\nexit " + std::to_string(code));
        const auto [status, out] = run({"--mode", mode, "--rsync", rsync});
        SCOPED_TRACE(out.dump());
        EXPECT_EQ(status, 2);
        EXPECT_EQ(out["error"]["code"], "scanFailed");
        EXPECT_EQ(out["error"]["exit"]["code"], code);
        EXPECT_EQ(out["error"]["exit"]["stderrTail"],
                  (Json{"rsync: first complaint", "rsync error: gave up (code " + std::to_string(code) + ")"}));
    }
}

// A mirror runs rsync three times (the plan's dry run, the fresh one before
// the transfer, the transfer), a copy twice; each run's time is reported.
TEST_F(KeltoRunJobTest, OneWayTimingListsEachRsyncRun) {
    putAt(a / "file", "x", t0);
    for (const auto& [mode, runs] : {std::pair{"mirror", 3}, std::pair{"copy", 2}}) {
        const auto [status, out] = run({"--mode", mode, "--archive", "off"});
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
    fs::remove(a / "one");
    fs::remove(a / "two");

    auto withOptions = [&](std::vector<std::string> options, std::vector<std::string> more) {
        options.insert(options.end(), more.begin(), more.end());
        return options;
    };
    const auto same = run(withOptions(recorded, {"--plan-only"})).out;
    EXPECT_EQ(same["guardInput"]["previousCounts"], (Json{{"a", 2}, {"b", 2}})) << same;
    EXPECT_EQ(same["verdict"], (Json{{"case", "abort"}, {"reason", "emptySide"}}));

    for (const auto& options : {std::vector<std::string>{"--mode", "twoWay", "--volume-a", "OTHER-A", "--volume-b",
                                                         "VOLUME-B", "--plan-only"},
                                std::vector<std::string>{"--mode", "twoWay", "--plan-only"}}) {
        const auto other = run(options).out;
        SCOPED_TRACE(other.dump());
        EXPECT_FALSE(other["guardInput"].contains("previousCounts"));
        EXPECT_EQ(other["verdict"]["case"], "proceed");
        EXPECT_EQ(other["plan"]["copyBtoA"], 2);  // no baseline for these volumes: B's files are new to A
    }

    const auto stopped = run(recorded);
    EXPECT_EQ(stopped.status, 1) << stopped.out;
    EXPECT_EQ(tree(b), (std::map<std::string, std::string>{{"one", "1"}, {"two", "2"}}));
}

}  // namespace
}  // namespace kelto::test
