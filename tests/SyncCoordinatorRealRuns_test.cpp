// Whole runs through the coordinator with the real engines and rsync.

#include "tests/CoordinatorRunFixture.h"
#include "tests/support/TestVolumes.h"

#include "SyncEngine/BaselineStore.h"

#include <sys/mount.h>

namespace kelto::test {
namespace {

using Files = std::map<std::string, std::string>;

// The files of every run folder of the job's archive on a side.
Files archived(const fs::path& side, const Uuid& jobID) {
    Files out;
    const fs::path job = side / ".KeltoSync/Archive" / jobID.string();
    if (!fs::exists(job)) return out;
    for (const auto& run : fs::directory_iterator(job))
        for (const auto& [path, content] : filesIn(run.path())) out[path] = content;
    return out;
}

TEST_F(CoordinatorRunTest, EachModeRunsWithItsLogAndRecord) {
    const struct {
        SyncMode mode;
        Files b;         // the destination afterwards
        Files archiveB;  // what the destination's archive keeps
        std::int64_t filesCopied;
    } cases[] = {
        {SyncMode::mirror,
         {{"keep.txt", "same"}, {"changed.txt", "new"}, {"dir/inner.txt", "inner"}},
         {{"changed.txt", "old"}, {"extra.txt", "only on b"}},
         2},
        {SyncMode::copy,
         {{"keep.txt", "same"}, {"changed.txt", "new"}, {"dir/inner.txt", "inner"}, {"extra.txt", "only on b"}},
         {{"changed.txt", "old"}},
         2},
        // A's later edit wins; what only B holds goes to A.
        {SyncMode::twoWay,
         {{"keep.txt", "same"}, {"changed.txt", "new"}, {"dir/inner.txt", "inner"}, {"extra.txt", "only on b"}},
         {{"changed.txt", "old"}},
         3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(enumName(c.mode));
        const fs::path from = tmp / enumName(c.mode) / "a", to = tmp / enumName(c.mode) / "b";
        putOld(from / "keep.txt", "same");
        putOld(to / "keep.txt", "same");
        putOld(from / "changed.txt", "new", 1'600'000'100);
        putOld(to / "changed.txt", "old");
        putOld(from / "dir/inner.txt", "inner");
        putOld(to / "extra.txt", "only on b");
        const Uuid id = addJob(c.mode, from, to).id;
        const RunResult result = run(id);
        EXPECT_EQ(result.record.outcome, RunOutcome::success());
        EXPECT_EQ(filesIn(to), c.b);
        if (c.mode == SyncMode::twoWay) {
            EXPECT_EQ(filesIn(from), c.b);
        }
        EXPECT_EQ(archived(to, id), c.archiveB);
        EXPECT_EQ(result.record.stats.filesCopied, c.filesCopied);
        EXPECT_EQ(result.record.stats.filesArchived, static_cast<std::int64_t>(c.archiveB.size()));
        const std::vector<std::string> lines = logLines(result.record);
        ASSERT_GE(lines.size(), 3u);
        EXPECT_EQ(lines.front(), header(id));
        EXPECT_TRUE(std::any_of(lines.begin() + 1, lines.end() - 1,
                                [](const std::string& line) { return line.ends_with(" dir/inner.txt"); }))
            << "no engine line names the new file";
        EXPECT_EQ(lines.back(), "Outcome: success");
        EXPECT_EQ(history.records(id), std::vector<RunRecord>{result.record});
    }
}

// A two-way run lists each side once; with nothing to do it leaves the baseline as it is.
TEST_F(CoordinatorRunTest, ATwoWayRunListsEachSideOnceWhenItCopiesNothing) {
    putOld(a / "keep.txt", "same");
    putOld(a / "dir/gone.txt", "old");
    const Uuid id = addJob(SyncMode::twoWay).id;
    ASSERT_EQ(run(id).record.outcome, RunOutcome::success());
    const fs::path baseline = tmp / "support/state" / (id.string() + ".sqlite");
    const auto rsyncRuns = [&] {
        const std::size_t before = script->calls().size();
        EXPECT_EQ(run(id).record.outcome, RunOutcome::success());
        return script->calls().size() - before;
    };
    const auto written = fs::last_write_time(baseline);
    EXPECT_EQ(rsyncRuns(), 2u);
    EXPECT_EQ(fs::last_write_time(baseline), written);
    fs::remove(b / "dir/gone.txt");
    EXPECT_EQ(rsyncRuns(), 2u);
    EXPECT_EQ(filesIn(a), (Files{{"keep.txt", "same"}}));
    const std::optional<Baseline> stored = BaselineStore(baseline, true).load("ROOT", "ROOT");
    ASSERT_TRUE(stored);
    EXPECT_FALSE(stored->find("dir/gone.txt"));
    EXPECT_TRUE(stored->find("keep.txt") && stored->find("dir"));
    putOld(b / "keep.txt", "edited on b", 1'600'000'100);
    EXPECT_EQ(rsyncRuns(), 3u);  // the two listings and one transfer
    EXPECT_EQ(filesIn(a), (Files{{"keep.txt", "edited on b"}}));
    EXPECT_EQ(BaselineStore(baseline, true).load("ROOT", "ROOT")->find("keep.txt")->size, 11);
}

TEST_F(CoordinatorRunTest, AnUnmountOfTheLoopMountedDestinationDuringATransferInterruptsTheRun) {
    std::string whyNot;
    const auto volume = Ext4Volume::make(whyNot);
    if (!volume) GTEST_SKIP() << whyNot;
    source.add(volume->path(), volumeIdentity(VolumeKind::removable, "LOOP-1", "Loop"));
    for (int i = 0; i < 3; ++i) putOld(a / ("big" + std::to_string(i)), std::string(4 << 20, static_cast<char>('a' + i)));
    SyncJob& job = addJob(SyncMode::mirror, a, volume->path() / "b");
    job.options.ejectWhenDone = true;
    const Uuid id = job.id;
    // The disk pulled out once the transfer is under way.
    std::atomic<bool> pulled{false};
    onReport = [&](const SyncProgress& progress) {
        if (progress.phase != SyncPhase::transferring || pulled.exchange(true)) return;
        coordinator.volumeWillUnmount(volume->path());
        ASSERT_EQ(::umount2(volume->path().c_str(), MNT_DETACH), 0);
    };
    const RunResult result = run(id, RunTrigger::connect);
    EXPECT_TRUE(pulled);
    EXPECT_EQ(result.record.outcome, RunOutcome::interrupted());
    EXPECT_FALSE(result.review);
    EXPECT_EQ(logLines(result.record).back(), "Outcome: interrupted");
    EXPECT_TRUE(ejector.asked().empty());
}

}  // namespace
}  // namespace kelto::test
