// Whole runs through the coordinator with the real engines and rsync.

#include "tests/CoordinatorRunFixture.h"
#include "tests/support/TestVolumes.h"

#include "SyncEngine/BaselineStore.h"

#include <sys/mount.h>

namespace kelto::test {
namespace {

using Files = std::map<std::string, std::string>;

void putAt(const fs::path& file, std::string_view content, std::int64_t mtime) {
    putOld(file, content);
    const timespec times[2] = {{mtime, 0}, {mtime, 0}};
    ::utimensat(AT_FDCWD, file.c_str(), times, 0);
}

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
        putAt(from / "keep.txt", "same", 1'600'000'000);
        putAt(to / "keep.txt", "same", 1'600'000'000);
        putAt(from / "changed.txt", "new", 1'600'000'100);
        putAt(to / "changed.txt", "old", 1'600'000'000);
        putAt(from / "dir/inner.txt", "inner", 1'600'000'000);
        putAt(to / "extra.txt", "only on b", 1'600'000'000);
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
    putAt(a / "keep.txt", "same", 1'600'000'000);
    putAt(a / "dir/gone.txt", "old", 1'600'000'000);
    const Uuid id = addJob(SyncMode::twoWay).id;
    ASSERT_EQ(run(id).record.outcome, RunOutcome::success());
    const fs::path baseline = tmp / "support/state" / (id.string() + ".sqlite");
    struct stat before {};
    ASSERT_EQ(::stat(baseline.c_str(), &before), 0);
    const auto callsBefore = script->calls().size();
    ASSERT_EQ(run(id).record.outcome, RunOutcome::success());
    EXPECT_EQ(script->calls().size() - callsBefore, 2u);
    struct stat after {};
    ASSERT_EQ(::stat(baseline.c_str(), &after), 0);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    fs::remove(b / "dir/gone.txt");
    const auto callsThen = script->calls().size();
    ASSERT_EQ(run(id).record.outcome, RunOutcome::success());
    EXPECT_EQ(script->calls().size() - callsThen, 2u);
    EXPECT_EQ(filesIn(a), (Files{{"keep.txt", "same"}}));
    const std::optional<Baseline> stored = BaselineStore(baseline, true).load("ROOT", "ROOT");
    ASSERT_TRUE(stored);
    EXPECT_FALSE(stored->find("dir/gone.txt"));
    EXPECT_TRUE(stored->find("keep.txt") && stored->find("dir"));
    putAt(b / "keep.txt", "edited on b", 1'600'000'100);
    const auto callsLast = script->calls().size();
    ASSERT_EQ(run(id).record.outcome, RunOutcome::success());
    EXPECT_EQ(script->calls().size() - callsLast, 3u);  // the two listings and one transfer
    EXPECT_EQ(filesIn(a), (Files{{"keep.txt", "edited on b"}}));
    EXPECT_EQ(BaselineStore(baseline, true).load("ROOT", "ROOT")->find("keep.txt")->size, 11);
}

// Runs rsync for real and calls the hook at the first line a transfer prints.
class FirstTransferLine final : public RsyncRunner {
public:
    FirstTransferLine(const RsyncRunner& real, std::function<void()> hook) : real_(real), hook_(std::move(hook)) {}
    RsyncExit run(const std::vector<std::string>& arguments, RsyncOutputParser::Mode mode, std::stop_token stop,
                  const RawLineHandler& onRawLine, const EventHandler& onEvent) const override {
        return real_.run(arguments, mode, std::move(stop), hooked(arguments, onRawLine), onEvent);
    }
    RsyncExit runBetween(int source, int destination, const std::vector<std::string>& arguments,
                         RsyncOutputParser::Mode mode, std::stop_token stop, const RawLineHandler& onRawLine,
                         const EventHandler& onEvent) const override {
        return real_.runBetween(source, destination, arguments, mode, std::move(stop), hooked(arguments, onRawLine),
                                onEvent);
    }

private:
    RawLineHandler hooked(const std::vector<std::string>& arguments, const RawLineHandler& onRawLine) const {
        return [this, transfer = ScriptedRsyncRunner::transfer()(arguments), &onRawLine](std::string_view line) {
            if (transfer && !called_.exchange(true)) hook_();
            if (onRawLine) onRawLine(line);
        };
    }
    const RsyncRunner& real_;
    std::function<void()> hook_;
    mutable std::atomic<bool> called_{false};
};

TEST_F(CoordinatorRunTest, AnUnmountOfTheLoopMountedDestinationDuringATransferInterruptsTheRun) {
    std::string whyNot;
    const auto volume = Ext4Volume::make(whyNot);
    if (!volume) GTEST_SKIP() << whyNot;
    source.add(volume->path(), volumeIdentity(VolumeKind::removable, "LOOP-1", "Loop"));
    for (int i = 0; i < 3; ++i) putOld(a / ("big" + std::to_string(i)), std::string(4 << 20, static_cast<char>('a' + i)));
    SyncJob& job = addJob(SyncMode::mirror, a, volume->path() / "b");
    job.options.ejectWhenDone = true;
    const Uuid id = job.id;
    // The same services, with an rsync that pulls the disk out once the transfer is under way.
    std::optional<SyncCoordinator> unplugging;
    const auto rsyncNow = std::make_shared<FirstTransferLine>(rsync, [&] {
        unplugging->volumeWillUnmount(volume->path());
        ASSERT_EQ(::umount2(volume->path().c_str(), MNT_DETACH), 0);
    });
    unplugging.emplace(SyncCoordinator::Services{
        .jobs = [this] { return jobs; },
        .rsync = rsyncNow,
        .supportDirectory = tmp / "support",
        .logDirectory = tmp / "logs",
        .history = history,
        .volumes = [this] { return VolumeInspector::mountedVolumes(source); },
        .isOnBattery = [] { return false; },
        .freeSpace = SyncCoordinator::availableSpace,
        .identityAt = [this](const fs::path& path) { return VolumeInspector::identity(path, source); },
        .sleepInhibitor = inhibitor,
        .ejector = ejector,
        .clock = clock,
    });
    const RunResult result = unplugging->run(id, RunTrigger::connect, nullptr, nullptr, {});
    EXPECT_EQ(result.record.outcome, RunOutcome::interrupted());
    EXPECT_FALSE(result.review);
    EXPECT_EQ(logLines(result.record).back(), "Outcome: interrupted");
    expectRecorded(result.record);
    EXPECT_TRUE(ejector.asked().empty());
    EXPECT_EQ(inhibitor.releases(), inhibitor.granted());
    EXPECT_TRUE(unplugging->active().controls().empty());
}

}  // namespace
}  // namespace kelto::test
