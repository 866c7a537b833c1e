#include "SyncAutomation/AppModel.h"
#include "SyncAutomation/Async/ManualExecutor.h"
#include "SyncAutomation/Async/WorkerPool.h"
#include "SyncAutomation/AutomationScheduler.h"
#include "SyncAutomation/RunMessages.h"
#include "SyncAutomation/SyncCoordinator.h"
#include "SyncAutomation/VolumeInspector.h"
#include "SyncEngine/SafetyGuard.h"
#include "tests/TwoWayEngineFixture.h"
#include "tests/support/FakeSleepInhibitor.h"
#include "tests/support/FakeSystemEvents.h"
#include "tests/support/FakeVolumeEjector.h"
#include "tests/support/FakeVolumeEvents.h"
#include "tests/support/FakeVolumeSource.h"

#include <array>
#include <atomic>
#include <mutex>

namespace kelto::test {
namespace {

std::vector<std::string> logLines(const RunRecord& record) {
    EXPECT_TRUE(record.logPath.has_value());
    std::vector<std::string> lines;
    std::istringstream in(record.logPath ? readFile(*record.logPath) : "");
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Whether a line of the engine's, between the header and the outcome, ends in `name`.
bool logNames(const RunRecord& record, std::string_view name) {
    const std::vector<std::string> lines = logLines(record);
    const auto named = [&](const std::string& line) { return line.ends_with(name); };
    return lines.size() > 2 && std::any_of(lines.begin() + 1, lines.end() - 1, named);
}

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
    std::mutex reportsLock;
    std::vector<SyncProgress> reports;
    std::function<void(const SyncProgress&)> onReport;
    CoordinatorRunTest() {
        source.add("/", volumeIdentity(VolumeKind::internal, "ROOT", "system"));
        for (const fs::path& side : {a, b}) fs::create_directories(side);
    }
    void TearDown() override { EXPECT_EQ(script->unusedSteps(), 0u) << "scripted rsync runs never happened"; }
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
    Uuid addJob(SyncMode mode, const fs::path& from, const fs::path& to, const std::function<void(JobOptions&)>& set) {
        SyncJob& job = addJob(mode, from, to);
        set(job.options);
        return job.id;
    }
    bool recordsRuns = true;  // each run() finds its record in the history
    // Each run takes one sleep assertion and lets it go.
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
        if (recordsRuns) {
            const std::vector<RunRecord> records = history.records(jobID);
            EXPECT_EQ(std::count(records.begin(), records.end(), result.record), 1) << "not in the history";
        }
        return result;
    }
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
    fs::path oldRunFolder(const fs::path& side, const Uuid& jobID, double daysAgo) {
        const fs::path folder =
            side / ArchiveDirectories::runFolderRelativePath(jobID, ArchiveRunID::make(clock.now().adding(-daysAgo * 86400)));
        put(folder / "old.txt", "archived long ago");
        return folder;
    }
};

using Script = ScriptedRsyncRunner;

std::function<void(JobOptions&)> guarded(bool archive, std::int64_t percent, std::int64_t minFiles) {
    return [=](JobOptions& options) {
        options.archiveEnabled = archive;
        options.deleteGuardPercent = percent;
        options.deleteGuardMinFiles = minFiles;
    };
}

RunOutcome unreviewed(int files, char side = 'B') {
    return RunOutcome::needsReview(std::to_string(files) + (files == 1 ? " file" : " files") + " on side " + side +
                                   " that you did not review will be archived or deleted.");
}

void putMany(std::initializer_list<fs::path> sides, const std::string& prefix, int n, std::string_view content = "x") {
    for (const fs::path& side : sides)
        for (int i = 0; i < n; ++i) put(side / (prefix + std::to_string(i)), content);
}

bool anyTransfer(const std::vector<ScriptedRsyncRunner::Call>& calls) {
    return std::any_of(calls.begin(), calls.end(), [](const auto& call) { return Script::transfer()(call.arguments); });
}

// Not even root may remove it while this lives, where the file system allows.
struct Immutable {
    fs::path file;
    bool held = runQuietly({"chattr", "+i", file.native()}) == 0;
    ~Immutable() { runQuietly({"chattr", "-i", file.native()}); }
};

TEST_F(CoordinatorRunTest, ATwoWayRunListsEachSideOnceWhenItCopiesNothing) {
    put(a / "keep.txt", "same");
    put(a / "dir/gone.txt", "old");
    const Uuid id = addJob(SyncMode::twoWay).id;
    const RunRecord first = run(id).record;
    ASSERT_EQ(first.outcome, RunOutcome::success());
    EXPECT_TRUE(logNames(first, " dir/gone.txt"));
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
    EXPECT_EQ(tree(a), (Files{{"dir", "dir/"}, {"keep.txt", "same"}}));
    const std::optional<Baseline> stored = BaselineStore(baseline, true).load("ROOT", "ROOT");
    ASSERT_TRUE(stored);
    EXPECT_TRUE(stored->find("keep.txt") && stored->find("dir") && !stored->find("dir/gone.txt"));
    putAt(b / "keep.txt", "edited on b", t0 + 100);
    EXPECT_EQ(rsyncRuns(), 3u);  // the two listings and one transfer
    EXPECT_EQ(tree(a), (Files{{"dir", "dir/"}, {"keep.txt", "edited on b"}}));
    EXPECT_EQ(BaselineStore(baseline, true).load("ROOT", "ROOT")->find("keep.txt")->size, 11);
}

TEST_F(CoordinatorRunTest, SkipsForEachReasonAreLoggedAndRecordedAndOnlyLaterRunsAskAboutTheBattery) {
    const fs::path stick = disk("Backup", "DISK-1");
    const auto skipOnBattery = [](JobOptions& options) { options.skipOnBattery = true; };
    const Uuid onDiskID = addJob(SyncMode::mirror, a, stick / "b", skipOnBattery);
    put(a / "file.txt");
    onBattery = true;
    unplug(stick);
    RunResult result = run(onDiskID, RunTrigger::schedule);
    EXPECT_EQ(std::tuple(result.record.outcome, result.review.has_value(), result.record.stats),
              std::tuple(RunOutcome::skipped(SkipReason::deviceNotConnected), false, RunStats{}));
    EXPECT_EQ(logLines(result.record),
              (std::vector<std::string>{header(onDiskID, "schedule"),
                                        "Outcome: skipped(SyncModel.SkipReason.deviceNotConnected)"}));
    EXPECT_EQ(phases(), (std::vector<SyncPhase>{SyncPhase::resolving, SyncPhase::finalizing}));
    source.add(stick, volumeIdentity(VolumeKind::removable, "DISK-2", "Backup"));
    EXPECT_EQ(run(onDiskID, RunTrigger::connect).record.outcome, RunOutcome::skipped(SkipReason::identityMismatch));
    const Uuid goneID = addJob(SyncMode::copy, a, tmp / "gone").id;
    fs::remove(tmp / "gone");
    EXPECT_EQ(run(goneID, RunTrigger::catchUp).record.outcome, RunOutcome::skipped(SkipReason::folderMissing));
    EXPECT_EQ(batteryChecks, 0);
    const Uuid hereID = addJob(SyncMode::mirror, a, b, skipOnBattery);
    EXPECT_EQ(run(hereID, RunTrigger::catchUp).record.outcome, RunOutcome::skipped(SkipReason::onBattery));
    EXPECT_EQ(std::pair(batteryChecks.load(), script->calls().empty()), std::pair(1, true));
    EXPECT_EQ(run(hereID, RunTrigger::manual).record.outcome, RunOutcome::success());
    EXPECT_EQ(std::pair(tree(b), batteryChecks.load()), std::pair(tree(a), 1));
}

TEST_F(CoordinatorRunTest, SafetyAbortsFailWithTheirTextsAndKeepThePlansSkippedFiles) {
    put(b / "keep.txt", "keep");
    const Uuid mirror = addJob(SyncMode::mirror).id;
    SyncPlan reviewed;
    reviewed.archives = {{"keep.txt", Side::b}};
    RunResult result = run(mirror, RunTrigger::manual, &reviewed);
    EXPECT_EQ(result.record.outcome, RunOutcome::failed("Source is empty \u2014 is the right disk connected?"));
    EXPECT_EQ(logLines(result.record).back(), "Outcome: failed(\"Source is empty \u2014 is the right disk connected?\")");
    EXPECT_EQ(std::pair(anyTransfer(script->calls()), tree(b)), std::pair(false, Files{{"keep.txt", "keep"}}));
    // FAT cannot hold both Notes and NOTES.
    const fs::path stick = disk("Stick", "FAT-1", "vfat");
    putFiles(a, {{"Notes", "one"}, {"NOTES", "two"}, {"big.bin", "big"}});
    const Uuid copy = addJob(SyncMode::copy, a, stick / "b").id;
    std::vector<std::pair<fs::path, bool>> asked;
    freeSpace = [&](const fs::path& path, bool isNetwork) -> std::int64_t {
        asked.emplace_back(path, isNetwork);
        return 1;
    };
    const std::vector<SkippedFile> skipped = coordinator.preview(copy, {}).skipped;
    ASSERT_EQ(skipped.size(), 2u);
    result = run(copy);
    EXPECT_EQ(std::tuple(result.record.outcome, result.record.stats.skipped, result.record.stats.filesCopied),
              std::tuple(RunOutcome::failed("Insufficient destination free space"), skipped, 0));
    // Only the side that receives copies is asked.
    EXPECT_EQ(asked, (std::vector<std::pair<fs::path, bool>>{{stick / "b", false}}));
    EXPECT_TRUE(tree(stick / "b").empty());
    freeSpace = SyncCoordinator::availableSpace;
    result = run(copy);
    EXPECT_EQ(std::pair(result.record.outcome, result.record.stats.skipped),
              std::pair(RunOutcome::completedWithWarnings(), skipped));
    EXPECT_EQ(tree(stick / "b"), (Files{{"big.bin", "big"}}));
}

TEST_F(CoordinatorRunTest, RsyncExitsAndOtherErrorsFailWithTheirDescriptionOrTheExitOfAFailedScan) {
    put(a / "new.txt", "new");
    const Uuid id = addJob(SyncMode::mirror).id;
    put(tmp / "logs", "a file where the folder should be");
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
    for (const auto& [code, stderrText, outcome] :
         {std::tuple{12, "rsync: connection unexpectedly closed\nrsync error: protocol data stream (code 12)\n",
                     RunOutcome::failed("rsync error: protocol data stream (code 12)")},
          std::tuple{25, "", RunOutcome::needsReview(std::string(RunMessages::inventoryChanged))}}) {
        SCOPED_TRACE(code);
        script->expect(Script::transfer()).err(stderrText).exit(code);
        result = run(id);
        EXPECT_EQ(result.record.outcome, outcome);
        EXPECT_FALSE(result.review) << "only the guard's review carries a plan";
        EXPECT_EQ(logLines(result.record).back(), "Outcome: " + RunMessages::outcomeDescription(outcome));
    }

    const Uuid twoWay = addJob(SyncMode::twoWay, a, tmp / "c").id;
    const fs::path baseline = tmp / "support/state" / (twoWay.string() + ".sqlite");
    put(baseline, "not a database, a note the user kept here");
    const std::size_t calls = script->calls().size();
    result = run(twoWay);
    ASSERT_EQ(result.record.outcome.kind, RunOutcome::Case::failed);
    EXPECT_NE(result.record.outcome.message.find(baseline.string()), std::string::npos) << result.record.outcome.message;
    EXPECT_NE(result.record.outcome.message.find("not a baseline database"), std::string::npos);
    EXPECT_EQ(std::pair(FileIO::readIfExists(baseline), script->calls().size()),
              std::pair(std::optional<std::string>("not a database, a note the user kept here"), calls));

    fs::remove_all(tmp / "support/history");
    put(tmp / "support/history", "a file where the folder should be");
    recordsRuns = false;
    result = run(id);
    ASSERT_EQ(result.record.stats.errors.size(), 1u);
    const std::string& reason = result.record.stats.errors.front();
    EXPECT_FALSE(reason.empty());
    EXPECT_EQ(result.record.outcome, RunOutcome::failed("Could not save run history: " + reason));
    EXPECT_EQ(logLines(result.record).back(), "Outcome: success");
    EXPECT_EQ(tree(b), tree(a));
}

TEST_F(CoordinatorRunTest, AConfirmedRunWhosePlanTakesMoreThanTheReviewAsksAgain) {
    for (const bool archive : {false, true}) {
        SCOPED_TRACE(archive ? "archive on" : "archive off");
        const std::string tag = archive ? "-on" : "-off";
        const fs::path from = tmp / ("a" + tag), to = tmp / ("b" + tag);
        putMany({from / "docs", to / "docs"}, "d", 100, "doc");
        putMany({from / "photos", to / "photos"}, "p", 200, "photo");
        const Uuid id = addJob(SyncMode::mirror, from, to, guarded(archive, 20, 50));
        for (int i = 0; i < 69; ++i) fs::remove(from / "docs" / ("d" + std::to_string(i)));
        const RunResult asked = run(id);
        ASSERT_TRUE(asked.review);
        const GuardVerdict verdict = SafetyGuard::evaluate(*asked.review, SyncMode::mirror, jobs.back().options, std::nullopt, {});
        EXPECT_EQ(std::tuple(asked.record.outcome, *asked.review, asked.record.stats),
                  std::tuple(RunOutcome::needsReview(verdict.message), coordinator.preview(id, {}), RunStats{}));
        RunResult result = confirm(id, asked, [&] {
            fs::rename(from / "photos", tmp / ("unmounted" + tag));
            fs::create_directory(from / "photos");
        });
        ASSERT_TRUE(result.review);
        EXPECT_EQ(std::tuple(result.record.outcome, result.review->archives.size(), phases().end()[-2],
                             tree(to).size()),
                  std::tuple(unreviewed(200), 269u, SyncPhase::awaitingConfirmation, 302u));
        result = confirm(id, result);
        EXPECT_EQ(std::tuple(result.record.outcome, tree(to), result.record.stats.filesArchived),
                  std::tuple(RunOutcome::success(), tree(from), archive ? 269 : 0));
    }
}

// ext4, and FAT that folds no normal forms, keep two spellings of a name as two items.
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
        put(to / c.reviewed, "reviewed");
        if (c.newerOnA) put(from / c.reviewed, "reviewed");
        const Uuid id = addJob(c.mode, from, to, guarded(c.archive, 0, 1));  // every taking asks
        if (c.mode == SyncMode::twoWay) {
            ASSERT_EQ(run(id).record.outcome, RunOutcome::success());
        }
        if (c.newerOnA) putAt(from / c.reviewed, "newer on A", t0 + 100);
        const RunResult asked = run(id);
        ASSERT_TRUE(asked.review);
        ASSERT_EQ(asked.review->archives, (std::vector<PlannedArchive>{{c.reviewed, Side::b}}));
        const RunResult result = confirm(id, asked, [&] { putAt(to / c.saved, "saved since", t0 + 50); });
        EXPECT_EQ(std::tuple(result.record.outcome, readFile(to / c.saved), readFile(to / c.reviewed)),
                  std::tuple(unreviewed(1), "saved since", c.saved == c.reviewed ? "saved since" : "reviewed"));
        EXPECT_EQ(confirm(id, result).record.outcome, RunOutcome::success());
        EXPECT_EQ(tree(to), tree(from));
    }
}

TEST_F(CoordinatorRunTest, AConfirmedRunWithTheArchiveOnTakesNothingItsPlanDidNotList) {
    // A mirror whose source loses a folder during the confirmed run asks again and leaves B as it was.
    putMany({a, b}, "d", 10);
    putMany({a / "photos", b / "photos"}, "p", 10);
    const Uuid mirror = addJob(SyncMode::mirror, a, b, guarded(true, 20, 1));
    for (int i = 0; i < 5; ++i) fs::remove(a / ("d" + std::to_string(i)));
    const Files before = tree(b);
    RunResult result = confirm(mirror, run(mirror), [&] {
        script->expect(Script::dryRun()).passThrough().then([&] { fs::remove_all(a / "photos"); });
    });
    EXPECT_EQ(result.record.outcome, RunOutcome::needsReview(std::string(RunMessages::inventoryChanged)));
    EXPECT_EQ(tree(b), before);
    EXPECT_EQ(result.record.stats.filesArchived, 0);
    // A copy keeps what changed on the source during the confirmed run's look.
    const fs::path c = tmp / "c", d = tmp / "d";
    putMany({c}, "r", 5, "newer");
    putMany({d}, "r", 5, "old");
    putMany({c, d}, "same", 20, "same");
    const Uuid copy = addJob(SyncMode::copy, c, d, guarded(true, 10, 2));
    result = confirm(copy, run(copy), [&] {
        script->expect(Script::dryRun()).passThrough().then([&] { put(c / "same0", "changed"); });
    });
    EXPECT_EQ(std::tuple(readFile(d / "same0"), readFile(d / "r0"), result.record.stats.filesArchived),
              std::tuple("same", "newer", 5));
}

TEST_F(CoordinatorRunTest, CancelledAndInterruptedTransfersNeitherPruneNorEject) {
    const fs::path stick = disk("Backup", "DISK-1");
    const Uuid id = addJob(SyncMode::mirror, a, stick / "b", [](JobOptions& options) {
        options.archiveRetentionDays = 1;
        options.ejectWhenDone = true;
    });
    const fs::path old = oldRunFolder(stick / "b", id, 10);
    oldRunFolder(stick / "b", id, 0.5);  // the newest: retention counts from the clock
    put(a / "one.txt", "1");
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
    EXPECT_EQ(std::pair(result.record.outcome, result.review.has_value()), std::pair(RunOutcome::cancelled(), false));
    script->expect(Script::transfer()).then([&] { coordinator.volumeWillUnmount(stick); }).waitForStop();
    result = run(id);
    EXPECT_EQ(std::pair(result.record.outcome, result.review.has_value()), std::pair(RunOutcome::interrupted(), false));
    EXPECT_EQ(std::tuple(fs::exists(old), ejector.asked(), tree(stick / "b")),
              std::tuple(true, std::vector<fs::path>{}, Files{}));
    EXPECT_EQ(run(id).record.outcome, RunOutcome::success());
    EXPECT_EQ(std::pair(fs::exists(old), ejector.asked()), std::pair(false, std::vector<fs::path>{stick}));

    // Finalizing is reported before the baseline is written and again after it.
    const Uuid twoWay = addJob(SyncMode::twoWay, a, stick / "t").id;
    int unmountAt = 2, finalizing = 0;
    onReport = [&](const SyncProgress& progress) {
        if (progress.phase == SyncPhase::finalizing && ++finalizing == unmountAt) coordinator.volumeWillUnmount(stick);
    };
    script->expect(Script::transferTo(stick / "t")).passThrough().exit(23);
    EXPECT_EQ(run(twoWay).record.outcome, RunOutcome::completedWithErrors());
    EXPECT_EQ(finalizing, 2);
    EXPECT_EQ(tree(stick / "t"), tree(a));
    put(a / "two.txt", "2");
    finalizing = 0;
    unmountAt = 1;
    EXPECT_EQ(run(twoWay).record.outcome, RunOutcome::interrupted());
}

TEST_F(CoordinatorRunTest, AClockAYearAheadKeepsTheArchivesOfTheLastDays) {
    const Uuid id = addJob(SyncMode::twoWay).id;  // the standard options: archive on, kept 30 days
    putMany({a, b}, "f", 3);
    ASSERT_EQ(run(id).record.outcome, RunOutcome::success());
    const fs::path recent = oldRunFolder(b, id, 0.01), old = oldRunFolder(b, id, 40);
    oldRunFolder(a, id, 0.01);
    const fs::path oldA = oldRunFolder(a, id, 40);
    clock.advance(365 * 86400.0);
    fs::remove(a / "f0");  // archived on B by this run
    const RunResult result = run(id);
    ASSERT_EQ(result.record.outcome, RunOutcome::success()) << RunMessages::outcomeDescription(result.record.outcome);
    // Nothing reached A: a two-way run prunes only the sides it changed.
    EXPECT_EQ((std::array{fs::exists(b / "f0"), fs::exists(recent), fs::exists(old), fs::exists(oldA)}),
              (std::array{false, true, false, true}));
    EXPECT_EQ(std::count_if(fs::recursive_directory_iterator(b / ".KeltoSync/Archive"), {},
                            [](const auto& entry) { return entry.path().filename() == "f0"; }), 1);
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
    EXPECT_EQ(tree(c), tree(a));
}

TEST_F(CoordinatorRunTest, ASuccessfulRunEjectsEachRemovableVolumeOnceInPathOrderAfterRecording) {
    const fs::path zeta = disk("Zeta", "DISK-Z"), alpha = disk("Alpha", "DISK-A");
    put(zeta / "photos/one.jpg", "1");
    const auto eject = [](JobOptions& options) { options.ejectWhenDone = true; };
    const Uuid bothID = addJob(SyncMode::mirror, zeta / "photos", alpha / "backup", eject);
    std::vector<std::pair<std::size_t, std::size_t>> recordsAndReleases;
    ejector.onEject([&](const fs::path&) {
        recordsAndReleases.emplace_back(history.records(bothID).size(), inhibitor.releases());
    });
    const RunRecord first = run(bothID).record;
    EXPECT_EQ(first.outcome, RunOutcome::success());
    EXPECT_TRUE(logNames(first, " one.jpg"));
    EXPECT_EQ(ejector.asked(), (std::vector<fs::path>{alpha, zeta}));
    EXPECT_EQ(recordsAndReleases, (std::vector<std::pair<std::size_t, std::size_t>>{{1, 1}, {1, 1}}));
    ejector.fail(alpha, "Device busy");
    const RunResult result = run(bothID);
    EXPECT_EQ(result.record.outcome, RunOutcome::success());
    const std::vector<std::string> lines = logLines(result.record);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(std::vector(lines.end() - 2, lines.end()),
              (std::vector<std::string>{"Outcome: success", "Could not eject " + alpha.native() + ": Device busy"}));
    EXPECT_EQ(ejector.asked().size(), 4u);
    const Uuid oneDiskID = addJob(SyncMode::copy, alpha / "in", alpha / "out", eject);
    const Uuid internalID = addJob(SyncMode::copy, a, b, eject);
    EXPECT_EQ(run(oneDiskID).record.outcome, RunOutcome::success());
    EXPECT_EQ(run(internalID).record.outcome, RunOutcome::success());
    put(zeta / "photos/two.jpg", "2");
    freeSpace = [](const fs::path&, bool) -> std::int64_t { return 0; };
    EXPECT_EQ(run(bothID).record.outcome.kind, RunOutcome::Case::failed);
    EXPECT_EQ(ejector.asked(), (std::vector<fs::path>{alpha, zeta, alpha, zeta, alpha}));
}

TEST_F(CoordinatorRunTest, ASecondRunOfAJobUnderWayEndsAtOnceAndTouchesNothing) {
    put(a / "new.txt", "new");
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
    EXPECT_EQ(run(id).record.outcome, RunOutcome::success());
}

class EndToEnd : public CoordinatorRunTest {
protected:
    ManualExecutor main{clock};
    WorkerPool workers{2};
    JobStore store{tmp / "support/jobs.json"};
    FakeSystemEvents systemEvents;
    FakeVolumeEvents volumeEvents;
    JobRunner runner{coordinator, main, clock};
    std::vector<RunRecord> finished;  // as the run-finished callback got them
    // Made before the model, started once it exists; both go before the runner.
    std::unique_ptr<AutomationScheduler> scheduler;
    std::unique_ptr<AppModel> model;
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
    // No job here has a timed trigger.
    AutomationScheduler::Services schedulerServices() {
        AutomationScheduler::Services s;
        s.jobs = [this] { return model ? model->jobs() : std::vector<SyncJob>{}; };
        const auto never = [](const auto&) -> std::optional<Date> { return std::nullopt; };
        s.lastRunStart = s.lastSuccessEnd = never;
        s.appearanceTime = never;
        s.onAsk = [](const SyncJob&) {};
        s.volumes = [this] { return VolumeInspector::mountedVolumes(source); };
        s.identityAt = [this](const fs::path& path) { return VolumeInspector::identity(path, source); };
        s.supportDirectory = tmp / "support";
        return s;
    }
    RunRecord finishedRun(std::size_t count) {
        EXPECT_TRUE(main.runUntil([&] { return finished.size() >= count; })) << "no record " << count;
        if (finished.size() < count) throw std::runtime_error("the run never finished");
        return finished[count - 1];
    }
    std::optional<RunStatus::Kind> status(const Uuid& jobID) const {
        if (!model->statuses().contains(jobID)) return std::nullopt;
        return model->statuses().at(jobID).kind();
    }
    void settle() {
        bool done = false;
        runner.performIfIdle(Uuid::random(), [] {}, [&](Result<void>) { done = true; });
        ASSERT_TRUE(main.runUntil([&] { return done; }));
    }
};

TEST_F(EndToEnd, AnOlderReviewConfirmedLateTakesNothingItDidNotShow) {
    putMany({a, b}, "keep", 1, "same");
    putMany({b / "old"}, "file-", 60);
    SyncJob& job = addJob(SyncMode::mirror);
    job.options.archiveEnabled = false;
    std::optional<Result<void>> added;  // to the model's jobs file too
    model->addJob(job, [&](Result<void> result) { added = std::move(result); });
    ASSERT_TRUE(main.runUntil([&] { return added.has_value(); }));
    ASSERT_TRUE(added->hasValue());
    const auto parkedPlan = [&] { return model->statuses().at(job.id).as<RunStatus::AwaitingConfirmation>()->plan; };
    const auto parks = [&] { return main.runUntil([&] { return status(job.id) == RunStatus::Kind::awaitingConfirmation; }); };
    model->runNow(job.id);
    ASSERT_TRUE(parks());
    const RunRecord parked = finishedRun(1);
    EXPECT_EQ(parked.outcome.kind, RunOutcome::Case::needsReview);
    EXPECT_EQ(model->lastRecords().at(job.id), parked);
    const Files before = tree(b);
    model->decline(job.id);
    ASSERT_TRUE(main.runUntil([&] { return !status(job.id); }));
    settle();
    EXPECT_EQ(tree(b), before);
    EXPECT_EQ(model->history(job.id), std::vector<RunRecord>{parked});

    main.advance(60);
    model->runNow(job.id);
    ASSERT_TRUE(parks());
    const std::shared_ptr<const SyncPlan> older = parkedPlan();
    EXPECT_EQ(older->archives.size(), 60u);
    // More files to delete since: confirming the older review parks the run again.
    putMany({b / "new"}, "file-", 10);
    const Files more = tree(b);
    model->confirm(job.id, older);
    EXPECT_EQ(finishedRun(3).outcome.kind, RunOutcome::Case::needsReview);
    ASSERT_TRUE(parks());
    EXPECT_EQ(parkedPlan()->archives.size(), 70u);
    model->confirm(job.id, older);
    EXPECT_EQ(finishedRun(4).outcome.kind, RunOutcome::Case::needsReview);
    ASSERT_TRUE(parks());
    EXPECT_EQ(tree(b), more);
    main.advance(60);
    model->confirm(job.id, parkedPlan());
    const RunRecord confirmed = finishedRun(5);
    EXPECT_EQ(confirmed.trigger, RunTrigger::manual);
    EXPECT_EQ(confirmed.outcome, RunOutcome::success());
    EXPECT_EQ(tree(b), tree(a));
    EXPECT_EQ(model->lastRecords().at(job.id), confirmed);
    EXPECT_EQ(model->history(job.id).size(), 5u);
    settle();
    EXPECT_TRUE(model->statuses().empty());
}

}  // namespace
}  // namespace kelto::test
