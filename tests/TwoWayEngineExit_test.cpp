// How a two-way run combines rsync's exit codes, stops early and trims its
// error lines, with stand-in rsync scripts for codes the real one will not give.

#include "tests/TwoWayEngineFixture.h"

#include <chrono>
#include <thread>

namespace kelto::test {
namespace {

class TwoWayExitTest : public TwoWayEngineTest {
protected:
    // x changed on A, y changed on B, z deleted on B: a copy each way and a
    // deletion on A.
    TwoWayPlan prepare() {
        process.executable = realRsync;
        startInStep({"x", "y", "z"});
        putAt(a / "x", "new x", t0 + 10);
        putAt(b / "y", "new y", t0 + 10);
        fs::remove(b / "z");
        return plan().second;
    }
};

// The n-th transfer: with `real` the real rsync runs first; then the code.
std::string transfers(const std::vector<std::pair<bool, int>>& steps, const std::string& extra = "") {
    std::string script = "case $n in\n";
    for (std::size_t i = 0; i < steps.size(); ++i)
        script += std::to_string(i + 1) + ") " + (steps[i].first ? "\"$REAL\" \"$@\" || exit $?; " : "") + extra +
                  "echo \"rsync error $n\" >&2; exit " + std::to_string(steps[i].second) + ";;\n";
    return script + "esac\n";
}

TEST_F(TwoWayExitTest, APartialDirectionKeepsTheOldEntriesOfWhatItDidNotConfirm) {
    const TwoWayPlan twoWay = prepare();
    process.executable = fakeRsyncFor(transfers({{false, 23}, {true, 0}}));
    const auto [stats, exit] = run(twoWay);
    EXPECT_EQ(exit, RsyncExit(23, {"rsync error 1", "rsync error 2"}));
    EXPECT_EQ(stats.errors, exit.stderrTail);
    EXPECT_EQ(contents(b / "x"), "old");    // A to B did nothing,
    EXPECT_EQ(contents(a / "y"), "new y");  // B to A went on
    EXPECT_FALSE(fs::exists(a / "z"));      // and so did the deletions
    EXPECT_EQ(*storedBaseline()->find("x"), (BaselineEntry{EntryKind::file, 3, t0}));
    EXPECT_EQ(storedBaseline()->find("y")->size, 5);
}

TEST_F(TwoWayExitTest, VanishedFilesShowOnlyWhenNothingWorseHappened) {
    for (const auto& [steps, expected] : std::vector<std::pair<std::vector<std::pair<bool, int>>, int>>{
             {{{true, 24}, {true, 0}}, 24}, {{{true, 23}, {true, 24}}, 23}, {{{true, 24}, {true, 23}}, 23}}) {
        for (const fs::path& folder : {a, b, baselineFile.parent_path(), tmp / "count"}) fs::remove_all(folder);
        fs::create_directories(a);
        fs::create_directories(b);
        const TwoWayPlan twoWay = prepare();
        process.executable = fakeRsyncFor(transfers(steps));
        EXPECT_EQ(run(twoWay).second.code, expected) << steps[0].second << " then " << steps[1].second;
        EXPECT_EQ(tree(a), tree(b));
    }
}

TEST_F(TwoWayExitTest, AnotherCodeStopsTheOtherDirectionTheDeletionsAndTheBaseline) {
    const TwoWayPlan twoWay = prepare();
    const std::string before = contents(baselineFile);
    process.executable = fakeRsyncFor(transfers({{false, 11}, {true, 0}}));
    const auto [stats, exit] = run(twoWay);
    EXPECT_EQ(exit, RsyncExit(11, {"rsync error 1"}));
    EXPECT_EQ(stats.errors, exit.stderrTail);
    EXPECT_EQ(contents(tmp / "count"), "1\n");
    EXPECT_TRUE(fs::exists(a / "z"));
    EXPECT_EQ(contents(baselineFile), before);
}

TEST_F(TwoWayExitTest, OnlyTheLastFiftyErrorLinesAreKept) {
    const TwoWayPlan twoWay = prepare();
    process.executable =
        fakeRsyncFor(transfers({{false, 23}, {true, 0}}, "for i in $(seq 1 60); do echo \"line $i\" >&2; done; "));
    const auto [stats, exit] = run(twoWay);
    ASSERT_EQ(exit.stderrTail.size(), 50u);
    EXPECT_EQ(exit.stderrTail.front(), "line 12");
    EXPECT_EQ(exit.stderrTail.back(), "rsync error 2");
    EXPECT_EQ(stats.errors, exit.stderrTail);
}

TEST_F(TwoWayExitTest, CancellingWhileBToARunsEndsWithTwentyAndKeepsTheBaseline) {
    const TwoWayPlan twoWay = prepare();
    const std::string before = contents(baselineFile);
    const fs::path started = tmp / "started", listNamed = tmp / "list-file";
    process.executable = fakeRsyncFor(
        "case $n in\n1) exec \"$REAL\" \"$@\";;\n2) for arg in \"$@\"; do case \"$arg\" in --files-from=*) echo -n "
        "\"${arg#--files-from=}\" > '" + listNamed.native() + "';; esac; done; touch '" + started.native() +
        "'; sleep 30;;\nesac\n");
    std::stop_source stop;
    std::jthread canceller([&] {
        for (int i = 0; i < 500 && !fs::exists(started); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        stop.request_stop();
    });
    std::vector<SyncProgress> reports;
    const auto [stats, exit] = run(twoWay, stop.get_token(), &reports);
    EXPECT_EQ(exit.code, 20);
    EXPECT_EQ(contents(b / "x"), "new x");  // A to B had finished; nothing after it happened
    EXPECT_TRUE(fs::exists(a / "z"));
    EXPECT_EQ(contents(baselineFile), before);
    EXPECT_NE(contents(listNamed).find("KeltoSync-files-"), std::string::npos);
    EXPECT_FALSE(fs::exists(contents(listNamed)));
    for (const SyncProgress& p : reports) EXPECT_EQ(p.phase, SyncPhase::transferring);
}

}  // namespace
}  // namespace kelto::test
