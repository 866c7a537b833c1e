// Runs through the coordinator: every way a run ends, its log and record, sleep, pruning, ejecting;
// whole runs with the real engines and rsync; the headless application on them, its main executor
// and clock manual.

#include "SyncAutomation/AppModel.h"
#include "SyncAutomation/Async/ManualExecutor.h"
#include "SyncAutomation/Async/WorkerPool.h"
#include "SyncAutomation/AutomationScheduler.h"
#include "SyncAutomation/RunMessages.h"
#include "SyncAutomation/SyncCoordinator.h"
#include "SyncAutomation/VolumeInspector.h"
#include "SyncEngine/ArchiveDirectories.h"
#include "SyncEngine/ArchiveRunID.h"
#include "SyncEngine/BaselineStore.h"
#include "SyncEngine/CancellationError.h"
#include "SyncEngine/RsyncLocator.h"
#include "SyncEngine/RsyncProcess.h"
#include "SyncEngine/SafetyGuard.h"
#include "SyncModel/Support/FileIO.h"
#include "tests/support/FakeSleepInhibitor.h"
#include "tests/support/FakeSystemEvents.h"
#include "tests/support/FakeVolumeEjector.h"
#include "tests/support/FakeVolumeEvents.h"
#include "tests/support/FakeVolumeSource.h"
#include "tests/support/ScriptedRsyncRunner.h"
#include "tests/support/TemporaryFolder.h"
#include "tests/support/TestVolumes.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <sstream>

namespace kelto::test {
namespace {

namespace fs = std::filesystem;

// Writes a file with a fixed old time, so equal content means unchanged.
void putOld(const fs::path& file, std::string_view content = "x", std::int64_t mtime = 1'600'000'000) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << content;
    const timespec times[2] = {{mtime, 0}, {mtime, 0}};
    ::utimensat(AT_FDCWD, file.c_str(), times, 0);
}

// The names below a folder, the reserved folder left out, with their content.
std::map<std::string, std::string> filesIn(const fs::path& root) {
    std::map<std::string, std::string> out;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        if (it->path().filename() == ".KeltoSync") {
            it.disable_recursion_pending();
        } else if (it->is_regular_file()) {
            out[it->path().lexically_relative(root).native()] = readFile(it->path());
        }
    }
    return out;
}

std::vector<std::string> logLines(const RunRecord& record) {
    EXPECT_TRUE(record.logPath.has_value());
    std::vector<std::string> lines;
    std::istringstream in(record.logPath ? readFile(*record.logPath) : "");
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// A coordinator over real folders, a written mount table, the bundled rsync behind a script, and fakes.
class CoordinatorRunTest : public ::testing::Test {
protected:
    TemporaryFolder tmp;
    FakeVolumeSource source;
    std::vector<SyncJob> jobs;
    RunHistoryStore history{tmp / "support/history", tmp / "logs"};
    RsyncProcess rsync{RsyncLocator::requireExecutable(KELTO_BUNDLE_DIR)};
    std::shared_ptr<ScriptedRsyncRunner> script = std::make_shared<ScriptedRsyncRunner>(rsync);
    FakeSleepInhibitor inhibitor;
    FakeVolumeEjector ejector;
    // 2026-03-01 14:05:09 UTC
    ManualClock clock{Date::fromUnix(1'772'373'909)};
    std::atomic<bool> onBattery{false};
    std::atomic<int> batteryChecks{0};
    std::function<std::int64_t(const fs::path&, bool)> freeSpace = SyncCoordinator::availableSpace;
    std::function<void()> onVolumesRead;  // each time the coordinator reads the mount table
    fs::path a = tmp / "a", b = tmp / "b";
    SyncCoordinator coordinator{{
        .jobs = [this] { return jobs; },
        .rsync = script,
        .supportDirectory = tmp / "support",
        .logDirectory = tmp / "logs",
        .history = history,
        .volumes =
            [this] {
                if (onVolumesRead) onVolumesRead();
                return VolumeInspector::mountedVolumes(source);
            },
        .isOnBattery =
            [this] {
                ++batteryChecks;
                return onBattery.load();
            },
        .freeSpace = [this](const fs::path& path, bool isNetwork) { return freeSpace(path, isNetwork); },
        .identityAt = [this](const fs::path& path) { return VolumeInspector::identity(path, source); },
        .sleepInhibitor = inhibitor,
        .ejector = ejector,
        .clock = clock,
    }};
    // Every report of the last run, and a hook called with each as it comes.
    std::mutex reportsLock;
    std::vector<SyncProgress> reports;
    std::function<void(const SyncProgress&)> onReport;
    CoordinatorRunTest() {
        source.add("/", volumeIdentity(VolumeKind::internal, "ROOT", "system"));
        fs::create_directories(a);
        fs::create_directories(b);
    }
    void TearDown() override { EXPECT_EQ(script->unusedSteps(), 0u) << "scripted rsync runs never happened"; }
    // A removable disk mounted at tmp/<name>.
    fs::path disk(const std::string& name, const std::string& uuid, const std::string& fileSystem = "ext4") {
        const fs::path root = tmp / name;
        fs::create_directories(root);
        source.add(root, volumeIdentity(VolumeKind::removable, uuid, name, fileSystem));
        return root;
    }
    void unplug(const fs::path& root) {
        std::erase_if(source.table, [&](const MountedFileSystem& m) { return m.mountPoint == root; });
    }
    SyncJob& addJob(SyncMode mode, const fs::path& from, const fs::path& to) {
        fs::create_directories(from);
        fs::create_directories(to);
        SyncJob job = SyncJob::newJob("Job");
        job.mode = mode;
        job.source = VolumeInspector::endpoint(from, source);
        job.destination = VolumeInspector::endpoint(to, source);
        jobs.push_back(std::move(job));
        return jobs.back();
    }
    SyncJob& addJob(SyncMode mode) { return addJob(mode, a, b); }
    // A job whose options `set` changes.
    Uuid addJob(SyncMode mode, const fs::path& from, const fs::path& to, const std::function<void(JobOptions&)>& set) {
        SyncJob& job = addJob(mode, from, to);
        set(job.options);
        return job.id;
    }
    bool recordsRuns = true;  // each run() finds its record in the history
    // One run, which takes one sleep assertion and lets it go; `reviewed` for a confirmed run.
    RunResult run(const Uuid& jobID, RunTrigger trigger = RunTrigger::manual, const SyncPlan* reviewed = nullptr,
                  std::stop_token stop = {}) {
        {
            const std::lock_guard guard(reportsLock);
            reports.clear();
        }
        const std::size_t takesBefore = inhibitor.takes();
        RunResult result = coordinator.run(
            jobID, trigger, reviewed,
            [this](const SyncProgress& progress) {
                {
                    const std::lock_guard guard(reportsLock);
                    reports.push_back(progress);
                }
                if (onReport) onReport(progress);
            },
            stop);
        EXPECT_EQ(inhibitor.takes(), takesBefore + 1);
        EXPECT_EQ(inhibitor.releases(), inhibitor.granted());
        EXPECT_TRUE(coordinator.active().controls().empty());
        if (recordsRuns) expectRecorded(result.record);
        return result;
    }
    // The review `asked` stopped with, confirmed after `meanwhile`.
    RunResult confirm(const Uuid& jobID, const RunResult& asked, const std::function<void()>& meanwhile = {}) {
        EXPECT_TRUE(asked.review) << "no review to confirm";
        if (!asked.review) return asked;
        const SyncPlan reviewed = *asked.review;
        if (meanwhile) meanwhile();
        return run(jobID, RunTrigger::manual, &reviewed);
    }
    std::vector<SyncPhase> phases() {
        const std::lock_guard guard(reportsLock);
        std::vector<SyncPhase> out;
        for (const SyncProgress& p : reports)
            if (out.empty() || out.back() != p.phase) out.push_back(p.phase);
        return out;
    }
    std::string header(const Uuid& jobID, std::string_view trigger = "manual") const {
        return "Kelto Sync " + jobID.string() + " " + std::string(trigger) + " 2026-03-01 14:05:09 +0000";
    }
    // The run was written to the history as it was returned.
    void expectRecorded(const RunRecord& record) {
        const std::vector<RunRecord> records = history.records(record.jobID);
        EXPECT_EQ(std::count(records.begin(), records.end(), record), 1) << "not in the history";
    }
    // A run folder of the job's archive on a side, dated `daysAgo` days before the clock.
    fs::path oldRunFolder(const fs::path& side, const Uuid& jobID, double daysAgo) {
        const fs::path folder =
            side / ArchiveDirectories::runFolderRelativePath(jobID, ArchiveRunID::make(clock.now().adding(-daysAgo * 86400)));
        putOld(folder / "old.txt", "archived long ago");
        return folder;
    }
};


using Script = ScriptedRsyncRunner;
using Files = std::map<std::string, std::string>;

// Every deletion or replacement asks for a review.
SyncJob& askAlways(SyncJob& job, bool archive = false) {
    job.options.archiveEnabled = archive;
    job.options.deleteGuardPercent = 0;
    job.options.deleteGuardMinFiles = 1;
    return job;
}

RunOutcome unreviewed(int files, char side = 'B') {
    return RunOutcome::needsReview(std::to_string(files) + (files == 1 ? " file" : " files") + " on side " + side +
                                   " that you did not review will be archived or deleted.");
}

// `n` files named prefix0.. on each side given, or taken away.
void putMany(std::initializer_list<fs::path> sides, const std::string& prefix, int n, std::string_view content = "x") {
    for (const fs::path& side : sides)
        for (int i = 0; i < n; ++i) putOld(side / (prefix + std::to_string(i)), content);
}
void removeMany(const fs::path& side, const std::string& prefix, int n) {
    for (int i = 0; i < n; ++i) fs::remove(side / (prefix + std::to_string(i)));
}

bool anyTransfer(const std::vector<ScriptedRsyncRunner::Call>& calls) {
    return std::any_of(calls.begin(), calls.end(), [](const auto& call) { return Script::transfer()(call.arguments); });
}

// A file no one, root included, may remove while this lives, where the file system allows.
struct Immutable {
    fs::path file;
    bool held = runQuietly({"chattr", "+i", file.native()}) == 0;
    ~Immutable() { runQuietly({"chattr", "-i", file.native()}); }
};

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

TEST_F(CoordinatorRunTest, SkipsForEachReasonAreLoggedAndRecordedAndOnlyLaterRunsAskAboutTheBattery) {
    const fs::path stick = disk("Backup", "DISK-1");
    const auto skipOnBattery = [](JobOptions& options) { options.skipOnBattery = true; };
    const Uuid onDiskID = addJob(SyncMode::mirror, a, stick / "b", skipOnBattery);
    putOld(a / "file.txt");
    onBattery = true;
    // The disk is away: skipped without a look at the battery.
    unplug(stick);
    RunResult result = run(onDiskID, RunTrigger::schedule);
    EXPECT_EQ(result.record.outcome, RunOutcome::skipped(SkipReason::deviceNotConnected));
    EXPECT_FALSE(result.review);
    EXPECT_EQ(result.record.stats, RunStats{});
    EXPECT_EQ(logLines(result.record),
              (std::vector<std::string>{header(onDiskID, "schedule"),
                                        "Outcome: skipped(SyncModel.SkipReason.deviceNotConnected)"}));
    EXPECT_EQ(phases(), (std::vector<SyncPhase>{SyncPhase::resolving, SyncPhase::finalizing}));
    // Another disk of the same name; an internal folder that is gone.
    source.add(stick, volumeIdentity(VolumeKind::removable, "DISK-2", "Backup"));
    EXPECT_EQ(run(onDiskID, RunTrigger::connect).record.outcome, RunOutcome::skipped(SkipReason::identityMismatch));
    const Uuid goneID = addJob(SyncMode::copy, a, tmp / "gone").id;
    fs::remove(tmp / "gone");
    EXPECT_EQ(run(goneID, RunTrigger::catchUp).record.outcome, RunOutcome::skipped(SkipReason::folderMissing));
    EXPECT_EQ(batteryChecks, 0);
    // Both folders here, on battery: skipped unless run by hand.
    const Uuid hereID = addJob(SyncMode::mirror, a, b, skipOnBattery);
    EXPECT_EQ(run(hereID, RunTrigger::catchUp).record.outcome, RunOutcome::skipped(SkipReason::onBattery));
    EXPECT_EQ(batteryChecks, 1);
    EXPECT_TRUE(script->calls().empty());
    EXPECT_EQ(run(hereID, RunTrigger::manual).record.outcome, RunOutcome::success());
    EXPECT_EQ(filesIn(b), filesIn(a));
    EXPECT_EQ(batteryChecks, 1);
}

// The guard's stops fail the run; skipped names are kept, and alone they only warn.
TEST_F(CoordinatorRunTest, SafetyAbortsFailWithTheirTextsAndKeepThePlansSkippedFiles) {
    // An empty source over a full destination, even when confirmed.
    putOld(b / "keep.txt", "keep");
    const Uuid mirror = addJob(SyncMode::mirror).id;
    SyncPlan reviewed;
    reviewed.archives = {{"keep.txt", Side::b}};
    RunResult result = run(mirror, RunTrigger::manual, &reviewed);
    EXPECT_EQ(result.record.outcome, RunOutcome::failed("Source is empty \u2014 is the right disk connected?"));
    EXPECT_EQ(logLines(result.record).back(), "Outcome: failed(\"Source is empty \u2014 is the right disk connected?\")");
    EXPECT_FALSE(anyTransfer(script->calls()));
    EXPECT_EQ(filesIn(b), (Files{{"keep.txt", "keep"}}));
    // Too little room on a FAT disk, which cannot hold two of the names.
    const fs::path stick = disk("Stick", "FAT-1", "vfat");
    putOld(a / "Notes", "one");
    putOld(a / "NOTES", "two");
    putOld(a / "big.bin", "big");
    const Uuid copy = addJob(SyncMode::copy, a, stick / "b").id;
    std::vector<std::pair<fs::path, bool>> asked;
    freeSpace = [&](const fs::path& path, bool isNetwork) -> std::int64_t {
        asked.emplace_back(path, isNetwork);
        return 1;
    };
    const std::vector<SkippedFile> skipped = coordinator.preview(copy, {}).skipped;
    ASSERT_EQ(skipped.size(), 2u);
    result = run(copy);
    EXPECT_EQ(result.record.outcome, RunOutcome::failed("Insufficient destination free space"));
    EXPECT_EQ(result.record.stats.skipped, skipped);
    EXPECT_EQ(result.record.stats.filesCopied, 0);
    // Only the side that receives copies is asked.
    EXPECT_EQ(asked, (std::vector<std::pair<fs::path, bool>>{{stick / "b", false}}));
    EXPECT_TRUE(filesIn(stick / "b").empty());
    freeSpace = SyncCoordinator::availableSpace;
    result = run(copy);
    EXPECT_EQ(result.record.outcome, RunOutcome::completedWithWarnings());
    EXPECT_EQ(result.record.stats.skipped, skipped);
    EXPECT_EQ(filesIn(stick / "b"), (Files{{"big.bin", "big"}}));
}

// A log that cannot be opened, free space that cannot be read, a dry run that fails, rsync's exits, a
// baseline that is no database (named, and left alone), a history that cannot be written (the returned
// record fails with its text twice, the closed log shows how the run itself ended): each ends the run
// with its description or the outcome of its exit.
TEST_F(CoordinatorRunTest, RsyncExitsAndOtherErrorsFailWithTheirDescriptionOrTheExitOfAFailedScan) {
    putOld(a / "new.txt", "new");
    const Uuid id = addJob(SyncMode::mirror).id;
    putOld(tmp / "logs", "a file where the folder should be");
    RunResult result = run(id);
    EXPECT_FALSE(result.record.logPath);
    ASSERT_EQ(result.record.outcome.kind, RunOutcome::Case::failed);
    EXPECT_EQ(result.record.stats.errors, std::vector<std::string>{result.record.outcome.message});
    EXPECT_TRUE(script->calls().empty());
    fs::remove(tmp / "logs");
    const FileError unreadable(EIO, "read the free space of", b);
    freeSpace = [&](const fs::path&, bool) -> std::int64_t { throw unreadable; };
    result = run(id);
    EXPECT_EQ(result.record.outcome, RunOutcome::failed(unreadable.what()));
    EXPECT_EQ(result.record.stats.errors, std::vector<std::string>{unreadable.what()});
    EXPECT_FALSE(anyTransfer(script->calls()));
    freeSpace = SyncCoordinator::availableSpace;
    script->expect(Script::dryRun()).err("rsync: link_stat failed\n").exit(23);
    result = run(id);
    EXPECT_EQ(result.record.outcome, RunOutcome::completedWithErrors());
    EXPECT_EQ(result.record.stats.errors,
              std::vector<std::string>{R"(scanFailed(code: 23, stderr: ["rsync: link_stat failed"]))"});
    const struct {
        std::int32_t code;
        std::string stderrText;
        RunOutcome outcome;
    } cases[] = {
        {11, "rsync: write failed on \"new.txt\": No space left on device (28)\n", RunOutcome::failed("Destination full")},
        {12, "rsync: connection unexpectedly closed\nrsync error: protocol data stream (code 12)\n",
         RunOutcome::failed("rsync error: protocol data stream (code 12)")},
        {23, "", RunOutcome::completedWithErrors()},
        {25, "", RunOutcome::needsReview("Source or deletion inventory changed \u2014 preview and run again")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        script->expect(Script::transfer()).err(c.stderrText).exit(c.code);
        result = run(id);
        EXPECT_EQ(result.record.outcome, c.outcome);
        EXPECT_FALSE(result.review) << "only the guard's review carries a plan";
        EXPECT_EQ(logLines(result.record).back(), "Outcome: " + RunMessages::outcomeDescription(c.outcome));
    }

    const Uuid twoWay = addJob(SyncMode::twoWay, a, tmp / "c").id;
    const fs::path baseline = tmp / "support/state" / (twoWay.string() + ".sqlite");
    putOld(baseline, "not a database, a note the user kept here");
    const std::size_t calls = script->calls().size();
    result = run(twoWay);
    ASSERT_EQ(result.record.outcome.kind, RunOutcome::Case::failed);
    EXPECT_NE(result.record.outcome.message.find(baseline.string()), std::string::npos) << result.record.outcome.message;
    EXPECT_NE(result.record.outcome.message.find("not a baseline database"), std::string::npos);
    EXPECT_EQ(FileIO::readIfExists(baseline), "not a database, a note the user kept here");
    EXPECT_EQ(script->calls().size(), calls);

    fs::remove_all(tmp / "support/history");
    putOld(tmp / "support/history", "a file where the folder should be");
    recordsRuns = false;
    result = run(id);
    ASSERT_EQ(result.record.outcome.kind, RunOutcome::Case::failed);
    ASSERT_EQ(result.record.stats.errors.size(), 1u);
    const std::string& reason = result.record.stats.errors.front();
    EXPECT_FALSE(reason.empty());
    EXPECT_EQ(result.record.outcome.message, "Could not save run history: " + reason);
    EXPECT_EQ(logLines(result.record).back(), "Outcome: success");
    EXPECT_EQ(filesIn(b), filesIn(a));
}

// A large deletion waits for a review; a confirmed run whose plan takes more than it (a disk below A
// went) asks again.
TEST_F(CoordinatorRunTest, AConfirmedRunWhosePlanTakesMoreThanTheReviewAsksAgain) {
    for (const bool archive : {false, true}) {
        SCOPED_TRACE(archive ? "archive on" : "archive off");
        const std::string tag = archive ? "-on" : "-off";
        const fs::path from = tmp / ("a" + tag), to = tmp / ("b" + tag);
        putMany({from / "docs", to / "docs"}, "d", 100, "doc");
        putMany({from / "photos", to / "photos"}, "p", 200, "photo");
        const Uuid id = addJob(SyncMode::mirror, from, to, [&](JobOptions& options) {
            options.archiveEnabled = archive;
            options.deleteGuardPercent = 20;
            options.deleteGuardMinFiles = 50;
        });
        removeMany(from / "docs", "d", 69);
        const RunResult asked = run(id);
        ASSERT_TRUE(asked.review);
        const GuardVerdict verdict = SafetyGuard::evaluate(*asked.review, SyncMode::mirror, jobs.back().options, std::nullopt, {});
        EXPECT_EQ(asked.record.outcome, RunOutcome::needsReview(verdict.message));
        EXPECT_EQ(*asked.review, coordinator.preview(id, {}));
        EXPECT_EQ(asked.record.stats, RunStats{});
        RunResult result = confirm(id, asked, [&] {
            fs::rename(from / "photos", tmp / ("unmounted" + tag));
            fs::create_directory(from / "photos");
        });
        EXPECT_EQ(result.record.outcome, unreviewed(200));
        ASSERT_TRUE(result.review);
        EXPECT_EQ(result.review->archives.size(), 269u);
        EXPECT_EQ(phases().end()[-2], SyncPhase::awaitingConfirmation);
        EXPECT_EQ(filesIn(to).size(), 300u);
        result = confirm(id, result);
        EXPECT_EQ(result.record.outcome, RunOutcome::success());
        EXPECT_EQ(filesIn(to), filesIn(from));
        EXPECT_EQ(result.record.stats.filesArchived, archive ? 269 : 0);
    }
}

// A file saved anew since the review at a path it lists, or at the other spelling of one (ext4, and FAT
// that folds no normal forms, keep two spellings of a name as two items), asks again and stays;
// confirmed once shown, it goes.
TEST_F(CoordinatorRunTest, AConfirmedRunTakesNothingSavedSinceTheReview) {
    const std::string nfc = "caf\xC3\xA9.txt", nfd = "cafe\xCC\x81.txt";
    struct Case {
        std::string tag;
        SyncMode mode;
        bool archive, fat, newerOnA;  // newerOnA: A holds a newer version of the reviewed name
        std::string reviewed, saved;  // on B: the name the review lists, the one saved since
    };
    for (const Case& c : {Case{"twin deleted", SyncMode::mirror, false, false, false, nfd, nfc},
                          Case{"twin replaced", SyncMode::mirror, false, false, true, nfc, nfd},
                          Case{"twin on FAT", SyncMode::mirror, false, true, false, nfd, nfc},
                          Case{"mirror", SyncMode::mirror, false, false, false, "x", "x"},
                          Case{"mirror archived", SyncMode::mirror, true, false, false, "x", "x"},
                          Case{"copy", SyncMode::copy, false, false, true, "x", "x"},
                          Case{"twoWay", SyncMode::twoWay, false, false, true, "x", "x"}}) {
        SCOPED_TRACE(c.tag);
        const fs::path from = tmp / ("a-" + c.tag), to = (c.fat ? disk("Stick", "FAT-1", "vfat") : tmp / c.tag) / "b";
        putMany({from, to}, "keep", 1, "same");
        putOld(to / c.reviewed, "reviewed");
        if (c.newerOnA) putOld(from / c.reviewed, "reviewed");
        const Uuid id = askAlways(addJob(c.mode, from, to), c.archive).id;
        if (c.mode == SyncMode::twoWay) {
            ASSERT_EQ(run(id).record.outcome, RunOutcome::success());
        }
        if (c.newerOnA) putOld(from / c.reviewed, "newer on A", 1'600'000'100);
        const RunResult asked = run(id);
        ASSERT_TRUE(asked.review);
        ASSERT_EQ(asked.review->archives, (std::vector<PlannedArchive>{{c.reviewed, Side::b}}));
        const RunResult result = confirm(id, asked, [&] { putOld(to / c.saved, "saved since", 1'600'000'050); });
        EXPECT_EQ(result.record.outcome, unreviewed(1));
        EXPECT_EQ(readFile(to / c.saved), "saved since");
        EXPECT_EQ(readFile(to / c.reviewed), c.saved == c.reviewed ? "saved since" : "reviewed");
        EXPECT_EQ(confirm(id, result).record.outcome, RunOutcome::success());
        EXPECT_EQ(filesIn(to), filesIn(from));
    }
}

// What changes between a confirmed plan and its transfer is not taken either, archive on.
TEST_F(CoordinatorRunTest, AConfirmedRunWithTheArchiveOnTakesNothingItsPlanDidNotList) {
    putMany({a, b}, "d", 10);
    putMany({a / "photos", b / "photos"}, "p", 10);
    const Uuid mirror = addJob(SyncMode::mirror, a, b, [](JobOptions& options) {
        options.archiveEnabled = true;
        options.deleteGuardMinFiles = 1;
    });
    removeMany(a, "d", 5);
    RunResult result = confirm(mirror, run(mirror), [&] {
        script->expect(Script::dryRun()).passThrough().then([&] { fs::remove_all(a / "photos"); });
    });
    EXPECT_EQ(result.record.outcome,
              RunOutcome::needsReview("Source or deletion inventory changed \u2014 preview and run again"));
    EXPECT_EQ(filesIn(b).size(), 20u);
    EXPECT_EQ(result.record.stats.filesArchived, 0);
    const fs::path c = tmp / "c", d = tmp / "d";
    putMany({c}, "r", 5, "newer");
    putMany({d}, "r", 5, "old");
    putMany({c, d}, "same", 20, "same");
    const Uuid copy = addJob(SyncMode::copy, c, d, [](JobOptions& options) {
        options.archiveEnabled = true;
        options.deleteGuardPercent = 10;
        options.deleteGuardMinFiles = 2;
    });
    result = confirm(copy, run(copy), [&] {
        script->expect(Script::dryRun()).passThrough().then([&] { putOld(c / "same0", "changed"); });
    });
    EXPECT_EQ(readFile(d / "same0"), "same");
    EXPECT_EQ(readFile(d / "r0"), "newer");
    EXPECT_EQ(result.record.stats.filesArchived, 5);
}

// A cancel (of a preview too) or the disk's unmount notice ends a run cancelled or interrupted, before
// the folders resolve (no rsync starts) or during the transfer: only a run that succeeds prunes and
// ejects. Another volume going away changes nothing; a notice after the commit changes no outcome.
TEST_F(CoordinatorRunTest, CancelledAndInterruptedTransfersNeitherPruneNorEject) {
    const fs::path stick = disk("Backup", "DISK-1");
    const Uuid id = addJob(SyncMode::mirror, a, stick / "b", [](JobOptions& options) {
        options.archiveRetentionDays = 1;
        options.ejectWhenDone = true;
    });
    const fs::path old = oldRunFolder(stick / "b", id, 10);
    oldRunFolder(stick / "b", id, 0.5);  // the newest: retention counts from the clock
    putOld(a / "one.txt", "1");
    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(coordinator.preview(id, stop.get_token()), CancellationError);
    RunResult result = run(id, RunTrigger::manual, nullptr, stop.get_token());
    EXPECT_EQ(result.record.outcome, RunOutcome::cancelled());
    EXPECT_EQ(logLines(result.record),
              (std::vector<std::string>{header(id), "The operation was cancelled.", "Outcome: cancelled"}));
    onVolumesRead = [&] { coordinator.volumeWillUnmount(stick); };
    result = run(id);
    EXPECT_EQ(result.record.outcome, RunOutcome::interrupted());
    EXPECT_EQ(logLines(result.record),
              (std::vector<std::string>{header(id), "The operation was cancelled.", "Outcome: interrupted"}));
    EXPECT_TRUE(script->calls().empty());
    onVolumesRead = [&] { coordinator.volumeWillUnmount(tmp / "Other"); };
    std::stop_source caller;
    script->expect(Script::transfer()).stopAt(caller).waitForStop();
    result = run(id, RunTrigger::manual, nullptr, caller.get_token());
    EXPECT_EQ(result.record.outcome, RunOutcome::cancelled());
    EXPECT_FALSE(result.review);
    script->expect(Script::transfer()).then([&] { coordinator.volumeWillUnmount(stick); }).waitForStop();
    result = run(id);
    EXPECT_EQ(result.record.outcome, RunOutcome::interrupted());
    EXPECT_FALSE(result.review);
    EXPECT_TRUE(fs::exists(old));
    EXPECT_TRUE(ejector.asked().empty());
    EXPECT_TRUE(filesIn(stick / "b").empty());
    EXPECT_EQ(run(id).record.outcome, RunOutcome::success());
    EXPECT_FALSE(fs::exists(old));
    EXPECT_EQ(ejector.asked(), std::vector<fs::path>{stick});

    // A two-way transfer that got through keeps its exit's outcome when its disk goes after the commit;
    // finalizing is reported before the baseline is written and again after it.
    const Uuid twoWay = addJob(SyncMode::twoWay, a, stick / "t").id;
    int unmountAt = 2, finalizing = 0;
    onReport = [&](const SyncProgress& progress) {
        if (progress.phase == SyncPhase::finalizing && ++finalizing == unmountAt) coordinator.volumeWillUnmount(stick);
    };
    script->expect(Script::transferTo(stick / "t")).passThrough().exit(23);
    EXPECT_EQ(run(twoWay).record.outcome, RunOutcome::completedWithErrors());
    EXPECT_EQ(finalizing, 2);
    EXPECT_EQ(filesIn(stick / "t"), filesIn(a));
    // Before the commit the same notice interrupts the run.
    putOld(a / "two.txt", "2");
    finalizing = 0;
    unmountAt = 1;
    EXPECT_EQ(run(twoWay).record.outcome, RunOutcome::interrupted());
}

// With the clock a year ahead, the archive made minutes before stays; only the changed side is pruned.
// A pruning that fails completes the run with warnings, the reason logged.
TEST_F(CoordinatorRunTest, AClockAYearAheadKeepsTheArchivesOfTheLastDays) {
    SyncJob& job = addJob(SyncMode::twoWay);
    job.options.archiveEnabled = true;
    job.options.archiveRetentionDays = 30;
    const Uuid id = job.id;
    putMany({a, b}, "f", 3);
    ASSERT_EQ(run(id).record.outcome, RunOutcome::success());
    const fs::path recent = oldRunFolder(b, id, 0.01), old = oldRunFolder(b, id, 40);
    oldRunFolder(a, id, 0.01);
    const fs::path oldA = oldRunFolder(a, id, 40);
    clock.advance(365 * 86400.0);
    fs::remove(a / "f0");  // archived on B by this run
    const RunResult result = run(id);
    ASSERT_EQ(result.record.outcome, RunOutcome::success()) << RunMessages::outcomeDescription(result.record.outcome);
    EXPECT_FALSE(fs::exists(b / "f0"));
    EXPECT_TRUE(fs::exists(recent));
    EXPECT_FALSE(fs::exists(old));
    EXPECT_TRUE(fs::exists(oldA)) << "nothing reached A: a two-way run prunes only the sides it changed";
    std::size_t archived = 0;
    for (const auto& entry : fs::recursive_directory_iterator(b / ".KeltoSync/Archive"))
        archived += entry.path().filename() == "f0";
    EXPECT_EQ(archived, 1u);
    const fs::path c = tmp / "c";
    const Uuid mirror = addJob(SyncMode::mirror, a, c, [](JobOptions& options) { options.archiveRetentionDays = 1; });
    const fs::path stuckRun = oldRunFolder(c, mirror, 10);
    oldRunFolder(c, mirror, 0.5);  // the newest: retention counts from the clock
    const Immutable stuck{stuckRun / "old.txt"};
    if (!stuck.held) GTEST_SKIP() << "this file system or user cannot make a file immutable";
    const RunResult failed = run(mirror);
    EXPECT_EQ(failed.record.outcome, RunOutcome::completedWithWarnings());
    ASSERT_EQ(failed.record.stats.errors.size(), 1u);
    const std::string& error = failed.record.stats.errors.front();
    EXPECT_TRUE(error.starts_with("Could not prune archives at " + c.native() + ": ")) << error;
    EXPECT_EQ(logLines(failed.record).end()[-2], error);
    EXPECT_TRUE(fs::exists(stuckRun / "old.txt"));
    EXPECT_EQ(filesIn(c), filesIn(a));
}

TEST_F(CoordinatorRunTest, ASuccessfulRunEjectsEachRemovableVolumeOnceInPathOrderAfterRecording) {
    const fs::path zeta = disk("Zeta", "DISK-Z"), alpha = disk("Alpha", "DISK-A");
    putOld(zeta / "photos/one.jpg", "1");
    const auto eject = [](JobOptions& options) { options.ejectWhenDone = true; };
    const Uuid bothID = addJob(SyncMode::mirror, zeta / "photos", alpha / "backup", eject);
    std::vector<std::pair<std::size_t, std::size_t>> recordsAndReleases;
    ejector.onEject([&](const fs::path&) {
        recordsAndReleases.emplace_back(history.records(bothID).size(), inhibitor.releases());
    });
    EXPECT_EQ(run(bothID).record.outcome, RunOutcome::success());
    EXPECT_EQ(ejector.asked(), (std::vector<fs::path>{alpha, zeta}));
    EXPECT_EQ(recordsAndReleases, (std::vector<std::pair<std::size_t, std::size_t>>{{1, 1}, {1, 1}}));
    // A failed eject: one line after the outcome, and the run stays a success.
    ejector.fail(alpha, "Device busy");
    const RunResult result = run(bothID);
    EXPECT_EQ(result.record.outcome, RunOutcome::success());
    const std::vector<std::string> lines = logLines(result.record);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines.end()[-2], "Outcome: success");
    EXPECT_EQ(lines.back(), "Could not eject " + alpha.native() + ": Device busy");
    EXPECT_EQ(ejector.asked().size(), 4u);
    // Both folders on one disk: ejected once. Internal folders: never.
    const Uuid oneDiskID = addJob(SyncMode::copy, alpha / "in", alpha / "out", eject);
    const Uuid internalID = addJob(SyncMode::copy, a, b, eject);
    EXPECT_EQ(run(oneDiskID).record.outcome, RunOutcome::success());
    EXPECT_EQ(run(internalID).record.outcome, RunOutcome::success());
    EXPECT_EQ(ejector.asked().size(), 5u);
    EXPECT_EQ(ejector.asked().back(), alpha);
    // A run that fails ejects nothing.
    putOld(zeta / "photos/two.jpg", "2");
    freeSpace = [](const fs::path&, bool) -> std::int64_t { return 0; };
    EXPECT_EQ(run(bothID).record.outcome.kind, RunOutcome::Case::failed);
    EXPECT_EQ(ejector.asked().size(), 5u);
}

TEST_F(CoordinatorRunTest, ASecondRunOfAJobUnderWayEndsAtOnceAndTouchesNothing) {
    putOld(a / "new.txt", "new");
    const Uuid id = addJob(SyncMode::mirror).id;
    std::optional<RunResult> second;
    std::size_t takesMeanwhile = 0;
    script->expect(Script::transfer())
        .then([&] {
            second = coordinator.run(id, RunTrigger::schedule, nullptr, nullptr, {});
            takesMeanwhile = inhibitor.takes();
        })
        .passThrough();
    const RunResult first = run(id);
    EXPECT_EQ(first.record.outcome, RunOutcome::success());
    ASSERT_TRUE(second);
    EXPECT_EQ(second->record.outcome, RunOutcome::failed("This job is already running in another Kelto Sync process"));
    EXPECT_FALSE(second->record.logPath);
    EXPECT_EQ(takesMeanwhile, 1u);
    EXPECT_EQ(history.records(id), std::vector<RunRecord>{first.record});
    // The lock goes with the run: the next run of the job is let in.
    EXPECT_EQ(run(id).record.outcome, RunOutcome::success());
}

// The headless application on the coordinator, jobs added through it: its main executor and the
// clock manual.
class EndToEnd : public CoordinatorRunTest {
protected:
    const fs::path support = tmp / "support";
    ManualExecutor main{clock};
    WorkerPool workers{2};
    JobStore store{support / "jobs.json"};
    FakeSystemEvents systemEvents;
    FakeVolumeEvents volumeEvents;
    JobRunner runner{coordinator, main, clock};
    // Made before the model, started once it exists; both go before the runner.
    std::unique_ptr<AutomationScheduler> scheduler;
    std::unique_ptr<AppModel> model;
    std::vector<RunRecord> finished;  // as the run-finished callback got them
    EndToEnd() {
        scheduler = std::make_unique<AutomationScheduler>(runner, systemEvents, volumeEvents, main, workers, clock,
                                                          schedulerServices());
        model = std::make_unique<AppModel>(AppModel::Services{
            .main = main,
            .store = store,
            .history = history,
            .runner = runner,
            .scheduler = *scheduler,
            .coordinator = &coordinator,
            .clock = clock,
        });
        model->setOnRunFinished([this](const RunRecord& record) { finished.push_back(record); });
        scheduler->start();
        main.runPending();
    }
    ~EndToEnd() override {
        model.reset();
        scheduler.reset();
    }
    // No job here has a timed trigger: the scheduler only needs the jobs and the volumes.
    AutomationScheduler::Services schedulerServices() {
        AutomationScheduler::Services s;
        s.jobs = [this] { return model ? model->jobs() : std::vector<SyncJob>{}; };
        const auto never = [](const auto&) -> std::optional<Date> { return std::nullopt; };
        s.lastRunStart = s.lastSuccessEnd = never;
        s.appearanceTime = never;
        s.onAsk = [](const SyncJob&) {};
        s.volumes = [this] { return VolumeInspector::mountedVolumes(source); };
        s.identityAt = [this](const fs::path& path) { return VolumeInspector::identity(path, source); };
        s.supportDirectory = support;
        return s;
    }
    SyncJob mirrorJob() {
        SyncJob job = SyncJob::newJob("Photos");
        job.mode = SyncMode::mirror;
        job.source = VolumeInspector::endpoint(a, source);
        job.destination = VolumeInspector::endpoint(b, source);
        return job;
    }
    // To the model's jobs file, and to the coordinator's jobs.
    void add(const SyncJob& job) {
        std::optional<Result<void>> answer;
        model->addJob(job, [&](Result<void> result) { answer = std::move(result); });
        ASSERT_TRUE(main.runUntil([&] { return answer.has_value(); }));
        ASSERT_TRUE(answer->hasValue());
        jobs.push_back(job);
    }
    // Waits for the run-finished callback's `count`th record.
    RunRecord finishedRun(std::size_t count) {
        EXPECT_TRUE(main.runUntil([&] { return finished.size() >= count; })) << "no record " << count;
        if (finished.size() < count) throw std::runtime_error("the run never finished");
        return finished[count - 1];
    }
    std::optional<RunStatus::Kind> status(const Uuid& jobID) const {
        if (!model->statuses().contains(jobID)) return std::nullopt;
        return model->statuses().at(jobID).kind();
    }
    // Everything asked of the runner so far is handled and its answers have run.
    void settle() {
        bool done = false;
        runner.performIfIdle(Uuid::random(), [] {}, [&](Result<void>) { done = true; });
        ASSERT_TRUE(main.runUntil([&] { return done; }));
    }
};

// A manual run over the deletion guard waits for the user's word: declined,
// nothing changes; a review left open while a newer plan was parked
// confirms only what it showed; the newest plan confirmed goes through.
TEST_F(EndToEnd, AnOlderReviewConfirmedLateTakesNothingItDidNotShow) {
    putOld(a / "keep.txt", "same");
    putOld(b / "keep.txt", "same");
    for (int i = 0; i < 60; ++i) putOld(b / "old" / ("file-" + std::to_string(i) + ".txt"), std::to_string(i));
    SyncJob job = mirrorJob();
    job.options.archiveEnabled = false;
    add(job);
    const auto parkedPlan = [&] { return model->statuses().at(job.id).as<RunStatus::AwaitingConfirmation>()->plan; };
    const auto parks = [&] { return main.runUntil([&] { return status(job.id) == RunStatus::Kind::awaitingConfirmation; }); };
    model->runNow(job.id);
    ASSERT_TRUE(parks());
    const RunRecord parked = finishedRun(1);
    EXPECT_EQ(parked.outcome.kind, RunOutcome::Case::needsReview);
    EXPECT_EQ(model->lastRecords().at(job.id), parked);
    const Files before = filesIn(b);
    model->decline(job.id);
    ASSERT_TRUE(main.runUntil([&] { return !status(job.id); }));
    settle();
    EXPECT_EQ(filesIn(b), before);
    EXPECT_EQ(model->history(job.id), std::vector<RunRecord>{parked});

    main.advance(60);
    model->runNow(job.id);
    ASSERT_TRUE(parks());
    const std::shared_ptr<const SyncPlan> older = parkedPlan();
    EXPECT_EQ(older->archives.size(), 60u);
    // More files to delete since: confirming the older review parks the run again.
    for (int i = 0; i < 10; ++i) putOld(b / "new" / ("file-" + std::to_string(i) + ".txt"), std::to_string(i));
    const Files more = filesIn(b);
    model->confirm(job.id, older);
    EXPECT_EQ(finishedRun(3).outcome.kind, RunOutcome::Case::needsReview);
    ASSERT_TRUE(parks());
    EXPECT_EQ(parkedPlan()->archives.size(), 70u);
    // The older sheet's Continue, clicked only now.
    model->confirm(job.id, older);
    EXPECT_EQ(finishedRun(4).outcome.kind, RunOutcome::Case::needsReview);
    ASSERT_TRUE(parks());
    EXPECT_EQ(filesIn(b), more);
    main.advance(60);
    model->confirm(job.id, parkedPlan());
    const RunRecord confirmed = finishedRun(5);
    EXPECT_EQ(confirmed.trigger, RunTrigger::manual);
    EXPECT_EQ(confirmed.outcome, RunOutcome::success());
    EXPECT_EQ(filesIn(b), filesIn(a));
    EXPECT_EQ(model->lastRecords().at(job.id), confirmed);
    EXPECT_EQ(model->history(job.id).size(), 5u);
    settle();
    EXPECT_TRUE(model->statuses().empty());
}

}  // namespace
}  // namespace kelto::test
