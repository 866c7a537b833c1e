// How a two-way run combines rsync's exit codes with its own failures, stops
// early and trims its error lines, with stand-in rsync scripts for the codes
// the real one cannot be made to give.

#include "tests/TwoWayEngineFixture.h"

#include <chrono>
#include <thread>

namespace kelto::test {
namespace {

constexpr std::int64_t t0 = 1'600'000'000;

class TwoWayExitTest : public TwoWayEngineTest {
protected:
    BaselineEntry oldX{EntryKind::file, 3, t0};

    // x changed on A, y changed on B, z deleted on B: one copy each way and
    // one deletion on A.
    TwoWayPlan prepare() {
        for (const char* name : {"x", "y", "z"}) {
            putAt(a / name, "old", t0);
            putAt(b / name, "old", t0);
        }
        EXPECT_EQ(sync().second.code, 0);
        putAt(a / "x", "new x", t0 + 10);
        putAt(b / "y", "new y", t0 + 10);
        fs::remove(b / "z");
        return plan().second;
    }

    std::int64_t transfersRun() const {
        return fs::exists(tmp / "count") ? std::stoll(contents(tmp / "count")) : 0;
    }
};

// The n-th transfer: "real" runs the real rsync first; then the code.
std::string transfers(const std::vector<std::pair<bool, int>>& steps, const std::string& extra = "") {
    std::string script = "case $n in\n";
    for (std::size_t i = 0; i < steps.size(); ++i) {
        script += std::to_string(i + 1) + ") ";
        if (steps[i].first) script += "\"$REAL\" \"$@\" || exit $?; ";
        script += extra + "echo \"rsync error $n\" >&2; exit " + std::to_string(steps[i].second) + ";;\n";
    }
    return script + "esac\n";
}

TEST_F(TwoWayExitTest, APartialDirectionKeepsTheOldEntriesOfWhatItDidNotConfirm) {
    const TwoWayPlan twoWay = prepare();
    engine.process.executable = fakeRsyncFor(transfers({{false, 23}, {true, 0}}));
    const auto [stats, exit] = run(twoWay);

    EXPECT_EQ(exit, RsyncExit(23, {"rsync error 1", "rsync error 2"}));
    EXPECT_EQ(stats.errors, exit.stderrTail);
    EXPECT_EQ(contents(b / "x"), "old");          // A to B did nothing
    EXPECT_EQ(contents(a / "y"), "new y");        // B to A went on
    EXPECT_FALSE(fs::exists(a / "z"));            // and so did the deletions
    EXPECT_EQ(*storedBaseline()->find("x"), oldX);  // planned again next time
    EXPECT_EQ(storedBaseline()->find("y")->size, 5);
    EXPECT_EQ(plan().second.copyAtoB, std::vector<std::string>{"x"});
}

TEST_F(TwoWayExitTest, VanishedFilesOnlyShowWhenNothingWorse) {
    struct Case {
        std::vector<std::pair<bool, int>> steps;
        int expected;
    };
    for (const Case& c : {Case{{{true, 24}, {true, 0}}, 24}, Case{{{true, 23}, {true, 24}}, 23},
                          Case{{{true, 24}, {true, 23}}, 23}}) {
        fs::remove_all(a);
        fs::remove_all(b);
        fs::remove_all(baselineFile.parent_path());
        fs::create_directories(a);
        fs::create_directories(b);
        fs::remove(tmp / "count");
        engine.process.executable = realRsync;
        const TwoWayPlan twoWay = prepare();
        engine.process.executable = fakeRsyncFor(transfers(c.steps));
        EXPECT_EQ(run(twoWay).second.code, c.expected) << c.steps[0].second << "+" << c.steps[1].second;
        EXPECT_EQ(tree(a), tree(b));
    }
}

TEST_F(TwoWayExitTest, AnotherCodeStopsTheRunBeforeTheOtherDirectionAndTheDeletions) {
    const TwoWayPlan twoWay = prepare();
    const std::string before = contents(baselineFile);
    engine.process.executable = fakeRsyncFor(transfers({{false, 11}, {true, 0}}));
    const auto [stats, exit] = run(twoWay);

    EXPECT_EQ(exit, RsyncExit(11, {"rsync error 1"}));
    EXPECT_EQ(stats.errors, exit.stderrTail);
    EXPECT_EQ(transfersRun(), 1);
    EXPECT_EQ(contents(a / "y"), "old");
    EXPECT_TRUE(fs::exists(a / "z"));
    EXPECT_EQ(contents(baselineFile), before);
}

TEST_F(TwoWayExitTest, OnlyTheLastFiftyErrorLinesAreKept) {
    const TwoWayPlan twoWay = prepare();
    engine.process.executable =
        fakeRsyncFor(transfers({{false, 23}, {true, 0}}, "for i in $(seq 1 60); do echo \"line $i\" >&2; done; "));
    const auto [stats, exit] = run(twoWay);
    EXPECT_EQ(exit.code, 23);
    ASSERT_EQ(exit.stderrTail.size(), 50u);
    EXPECT_EQ(exit.stderrTail.front(), "line 12");
    EXPECT_EQ(exit.stderrTail[48], "line 60");
    EXPECT_EQ(exit.stderrTail.back(), "rsync error 2");
    EXPECT_EQ(stats.errors, exit.stderrTail);
}

TEST_F(TwoWayExitTest, CancellingWhileBToARunsEndsWithTwentyAndKeepsTheBaseline) {
    const TwoWayPlan twoWay = prepare();
    const std::string before = contents(baselineFile);
    const fs::path marker = tmp / "started", listNamed = tmp / "list-file";
    engine.process.executable = fakeRsyncFor(
        "case $n in\n1) exec \"$REAL\" \"$@\";;\n"
        "2) for arg in \"$@\"; do case \"$arg\" in --files-from=*) echo \"${arg#--files-from=}\" > '" +
        listNamed.native() + "';; esac; done; touch '" + marker.native() + "'; sleep 30;;\nesac\n");

    std::stop_source stop;
    std::jthread canceller([&] {
        for (int i = 0; i < 500 && !fs::exists(marker); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        stop.request_stop();
    });
    std::vector<SyncProgress> reports;
    const auto started = std::chrono::steady_clock::now();
    const auto [stats, exit] = run(twoWay, stop.get_token(), &reports);

    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_EQ(exit.code, 20);
    EXPECT_EQ(contents(b / "x"), "new x");  // A to B had finished
    EXPECT_TRUE(fs::exists(a / "z"));       // no deletions
    EXPECT_EQ(contents(baselineFile), before);
    ASSERT_TRUE(fs::exists(listNamed));
    const std::string listFile = contents(listNamed).substr(0, contents(listNamed).size() - 1);
    EXPECT_TRUE(listFile.find("KeltoSync-files-") != std::string::npos);
    EXPECT_FALSE(fs::exists(listFile));
    for (const SyncProgress& p : reports) EXPECT_EQ(p.phase, SyncPhase::transferring);
}

}  // namespace
}  // namespace kelto::test
