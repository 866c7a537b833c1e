// How a two-way run combines rsync's exit codes, stops early and trims its error lines.

#include "tests/TwoWayEngineFixture.h"

namespace kelto::test {
namespace {

using Script = ScriptedRsyncRunner;

class TwoWayExitTest : public TwoWayEngineTest {
protected:
    // x changed on A, y on B, z deleted on B.
    TwoWayPlan prepare() {
        startInStep({"x", "y", "z"});
        putAt(a / "x", "new x", t0 + 10);
        putAt(b / "y", "new y", t0 + 10);
        fs::remove(b / "z");
        return plan().second;
    }
    // Scripted transfers: real first where asked, then `extra`, "rsync error n" and the code.
    void scriptTransfers(const std::vector<std::pair<bool, int>>& steps, const std::string& extra = "") {
        for (std::size_t i = 0; i < steps.size(); ++i) {
            Script::Step& step = script.expect(Script::transfer());
            if (steps[i].first) step.passThrough();
            step.err(extra + "rsync error " + std::to_string(i + 1) + "\n").exit(steps[i].second);
        }
    }
    std::size_t transferCount() const {
        const auto calls = script.calls();
        return static_cast<std::size_t>(std::count_if(calls.begin(), calls.end(), [](const Script::Call& call) {
            return Script::transfer()(call.arguments);
        }));
    }
};

// A direction ending 23 keeps the old entries of what it did not confirm,
// the other direction and the deletions go on; the tail keeps 50 lines.
TEST_F(TwoWayExitTest, APartialDirectionKeepsTheOldEntriesOfWhatItDidNotConfirm) {
    const TwoWayPlan twoWay = prepare();
    std::string lines;
    for (int i = 1; i <= 60; ++i) lines += "line " + std::to_string(i) + "\n";
    scriptTransfers({{false, 23}, {true, 0}}, lines);
    const auto [stats, exit] = run(twoWay);
    EXPECT_EQ(exit.code, 23);
    ASSERT_EQ(exit.stderrTail.size(), 50u);
    EXPECT_EQ(exit.stderrTail.front(), "line 12");
    EXPECT_EQ(exit.stderrTail.back(), "rsync error 2");
    EXPECT_EQ(stats.errors, exit.stderrTail);
    EXPECT_EQ(contents(b / "x"), "old");    // A to B did nothing,
    EXPECT_EQ(contents(a / "y"), "new y");  // B to A went on
    EXPECT_FALSE(fs::exists(a / "z"));      // and so did the deletions
    EXPECT_EQ(*storedBaseline()->find("x"), (BaselineEntry{EntryKind::file, 3, t0}));
    EXPECT_EQ(storedBaseline()->find("y")->size, 5);
}

// rsync copies what it can and ends with 23: only what it itemised is confirmed.
TEST_F(TwoWayExitTest, ADirectionEndingPartWayConfirmsOnlyWhatRsyncItemised) {
    startInStep({"x", "w"});
    putAt(a / "x", "new x", t0 + 10);
    putAt(a / "w", "new w", t0 + 10);
    const TwoWayPlan twoWay = plan().second;
    ASSERT_EQ(twoWay.copyAtoB, (std::vector<std::string>{"w", "x"}));
    const std::string failed = "rsync: [sender] send_files failed to open \"" + (a / "w").native() +
                               "\": Permission denied (13)";
    script.expect(Script::transferTo(b))
        .out(RsyncLines::itemized(">f.st......", 5, "x"))
        .then([&] { putAt(b / "x", "new x", t0 + 10); })  // what rsync wrote
        .err(failed + "\n")
        .exit(23);
    const auto [stats, exit] = run(twoWay);
    EXPECT_EQ(exit, RsyncExit(23, {failed}));
    EXPECT_EQ(stats.filesCopied, 1);
    EXPECT_EQ(*storedBaseline()->find("x"), (BaselineEntry{EntryKind::file, 5, t0 + 10}));
    EXPECT_EQ(*storedBaseline()->find("w"), (BaselineEntry{EntryKind::file, 3, t0}));  // tried again next time
    EXPECT_EQ(plan().second.copyAtoB, std::vector<std::string>{"w"});
}

// Vanished files (24) show only when nothing worse happened; any code but
// 23 and 24 stops the other direction, the deletions and the baseline.
TEST_F(TwoWayExitTest, TheWorstCodeStandsAndAFailureStopsWhatFollows) {
    const struct {
        std::vector<std::pair<bool, int>> steps;
        int code;
    } cases[] = {{{{true, 24}, {true, 0}}, 24}, {{{true, 23}, {true, 24}}, 23}, {{{true, 24}, {true, 23}}, 23},
                 {{{false, 11}}, 11}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.steps[0].second << " then " << c.steps.back().second);
        resetSides(true);
        const TwoWayPlan twoWay = prepare();
        const std::string before = contents(baselineFile);
        const std::size_t transfersBefore = transferCount();
        scriptTransfers(c.steps);
        const auto [stats, exit] = run(twoWay);
        EXPECT_EQ(exit.code, c.code);
        EXPECT_EQ(stats.errors, exit.stderrTail);
        EXPECT_EQ(transferCount() - transfersBefore, c.steps.size());
        if (c.code == 11) {
            EXPECT_EQ(exit.stderrTail, std::vector<std::string>{"rsync error 1"});
            EXPECT_TRUE(fs::exists(a / "z"));
            EXPECT_EQ(contents(baselineFile), before);
        } else {
            EXPECT_EQ(tree(a), tree(b));
        }
    }
}

// Stopped as A to B ends, or while B to A runs: the run ends with 20, and nothing after A to B happened.
TEST_F(TwoWayExitTest, AStopAfterAToBEndsWithTwentyAndKeepsTheBaseline) {
    for (const bool whileBToA : {false, true}) {
        SCOPED_TRACE(whileBToA ? "while B to A runs" : "between the directions");
        resetSides(true);
        const TwoWayPlan twoWay = prepare();
        const std::string before = contents(baselineFile);
        const std::size_t transfersBefore = transferCount();
        std::stop_source stop;
        std::string listNamed;
        Script::Step& aToB = script.expect(Script::transferTo(b)).passThrough();
        if (whileBToA) {
            script.expect(Script::transferTo(a))
                .then([&] {
                    listNamed = script.calls().back().option("--files-from").value_or("");
                    EXPECT_TRUE(fs::exists(listNamed));
                })
                .stopAt(stop)
                .waitForStop();  // still running when the stop comes
        } else {
            aToB.stopAt(stop);
        }
        std::vector<SyncProgress> reports;
        const auto [stats, exit] = run(twoWay, stop.get_token(), &reports);
        EXPECT_EQ(exit, RsyncExit(20, {}));
        EXPECT_EQ(stats.filesCopied, 1);
        EXPECT_EQ(contents(b / "x"), "new x");
        EXPECT_EQ(contents(a / "y"), "old");
        EXPECT_EQ(transferCount() - transfersBefore, whileBToA ? 2u : 1u);
        EXPECT_TRUE(fs::exists(a / "z"));
        EXPECT_EQ(contents(baselineFile), before);
        for (const SyncProgress& p : reports) EXPECT_EQ(p.phase, SyncPhase::transferring);
        EXPECT_EQ(listNamed.find("KeltoSync-files-") != std::string::npos, whileBToA);
        EXPECT_FALSE(fs::exists(listNamed));
    }
}

TEST_F(TwoWayExitTest, TheListsOfPathsAreTheUsersAloneAndAKilledRunsAreCleared) {
    const TwoWayPlan twoWay = prepare();
    fs::create_directories(engine.listFolder);
    fs::permissions(engine.listFolder, fs::perms(0755));
    const fs::path leftover = engine.listFolder / "KeltoSync-files-0A1B2C3D-LEFT-BY-A-KILLED-RUN";
    std::ofstream(leftover) << "private/name";
    std::ofstream(engine.listFolder / "unrelated") << "kept";
    std::vector<fs::path> lists;
    for (const fs::path& to : {b, a})
        script.expect(Script::transferTo(to))
            .then([&] {
                const fs::path list = script.calls().back().option("--files-from").value_or("");
                lists.push_back(list);
                EXPECT_EQ(list.parent_path(), fs::absolute(engine.listFolder));
                EXPECT_EQ(fs::status(list).permissions(), fs::perms(0600)) << list;
                EXPECT_EQ(fs::status(engine.listFolder).permissions(), fs::perms(0700));
                EXPECT_FALSE(fs::exists(leftover));
            })
            .passThrough();
    EXPECT_EQ(run(twoWay).second.code, 0);
    ASSERT_EQ(lists.size(), 2u);
    for (const fs::path& list : lists) EXPECT_FALSE(fs::exists(list));
    EXPECT_TRUE(fs::exists(engine.listFolder / "unrelated"));
}

}  // namespace
}  // namespace kelto::test
