#include "SyncAutomation/AppModel.h"

#include "SyncAutomation/Async/ManualExecutor.h"
#include "SyncAutomation/AutomationFakes_test.h"
#include "SyncAutomation/JobLock.h"
#include "SyncAutomation/JobRunnerError.h"
#include "SyncAutomation/SyncPreviewError.h"
#include "SyncEngine/ArchiveRunID.h"
#include "SyncModel/JobStoreError.h"
#include "SyncModel/Support/FileIO.h"
#include "tests/support/SavedJobs.h"
#include "tests/support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>
#include <string>

namespace kelto {
namespace {

namespace fs = std::filesystem;
using Property = AppModelInterface::Property;
using StatusMap = AppModelInterface::StatusMap;
using test::errorOf;
using test::record;
using Jobs = std::vector<SyncJob>;

struct FakeScheduler final : JobScheduling {
    void jobsChanged() override { ++changes; }
    std::optional<Date> pendingFire(const Uuid&) const override { return std::nullopt; }
    Subscription observePendingFires(std::function<void()> changed) override {
        return notice.observe(std::move(changed));
    }
    int changes = 0;
    ObservedValue<int> notice;  // set to tell the observers that the dates changed
};

// The real runner and coordinator, with fake runs and a fake scheduler.
struct Model : ::testing::Test, test::FakeMachine {
    ~Model() override {
        model.reset();
        runs.endStoppedRuns(true);
        runner.reset();
    }
    void start(bool withCoordinator = true) {
        const auto log = [this](const std::string& line) {
            std::lock_guard lock(logMutex);
            logLines.push_back(line);
        };
        model = std::make_unique<AppModel>(AppModel::Services{
            .main = main, .store = *store, .history = history, .runner = *runner, .scheduler = scheduler,
            .coordinator = withCoordinator ? &coordinator : nullptr, .clock = clock, .log = log});
        main.runPending();
    }
    SyncJob saved(const std::string& name, SyncMode mode = SyncMode::copy) {
        SyncJob job = makeJob(name, mode);
        Jobs all = store->load();
        all.push_back(job);
        test::saveJobs(*store, all);
        return job;
    }
    std::size_t loggedWith(const fs::path& text) {
        std::lock_guard lock(logMutex);
        return std::ranges::count_if(logLines,
                                     [&](const std::string& l) { return l.find(text.string()) != std::string::npos; });
    }
    SyncJob makeJob(const std::string& name, SyncMode mode = SyncMode::copy) {
        SyncJob job = SyncJob::newJob(name);
        job.mode = mode;
        job.source = endpointAt(tmp / (name + " A"));
        job.destination = endpointAt(tmp / (name + " B"));
        return job;
    }
    SyncJob movedTo(SyncJob job, const std::string& folder) {
        job.destination = endpointAt(tmp / folder);
        return job;
    }
    fs::path stateFile(const Uuid& jobID, const std::string& suffix) const {
        return store->directory() / "state" / (jobID.string() + suffix);
    }
    // `folderAt` names a baseline file made a folder, which cannot be unlinked.
    void writeBaseline(const Uuid& jobID, const std::string& folderAt = "") {
        fs::create_directories(store->directory() / "state");
        for (const char* suffix : {".sqlite", ".sqlite-wal", ".sqlite-shm", ".lock"}) {
            if (suffix == folderAt)
                fs::create_directories(stateFile(jobID, suffix) / "inside");
            else
                FileIO::writeAtomically(stateFile(jobID, suffix), "x");
        }
    }
    std::size_t baselineFilesLeft(const Uuid& jobID) const {
        return std::ranges::count_if(std::vector{".sqlite", ".sqlite-wal", ".sqlite-shm"}, [&](const char* suffix) {
            return fs::exists(fs::symlink_status(stateFile(jobID, suffix)));
        });
    }
    template <typename T, typename Call>
    Result<T> answerOf(Call call) {
        std::optional<Result<T>> answer;
        call([&](Result<T> result) { answer = std::move(result); });
        if (!main.runUntil([&] { return answer.has_value(); }))
            return Result<T>(std::make_exception_ptr(std::logic_error("never answered")));
        return std::move(*answer);
    }
    Result<void> add(const SyncJob& job) { return answerOf<void>([&](auto done) { model->addJob(job, done); }); }
    Result<void> update(const SyncJob& job) { return answerOf<void>([&](auto done) { model->updateJob(job, done); }); }
    Result<void> remove(const Uuid& id) { return answerOf<void>([&](auto done) { model->deleteJob(id, done); }); }
    Result<SyncPlan> preview(const Uuid& id) {
        return answerOf<SyncPlan>([&](auto done) { model->preview(id, done); });
    }
    Result<AppModel::Roots> roots(const Uuid& id) {
        return answerOf<AppModel::Roots>([&](auto done) { model->archiveRoots(id, done); });
    }
    Result<void> prune(const Uuid& id) { return answerOf<void>([&](auto done) { model->pruneArchives(id, done); }); }
    // What was posted to the runner so far has been handled, and its answers have run.
    void settle() {
        bool done = false;
        runner->performIfIdle(Uuid::random(), [] {}, [&](Result<void>) { done = true; });
        ASSERT_TRUE(main.runUntil([&] { return done; }));
    }
    void runUntilRunning(const Uuid& jobID) {
        ASSERT_TRUE(main.runUntil([&] {
            const auto found = model->statuses().find(jobID);
            return found != model->statuses().end() && found->second.kind() == RunStatus::Kind::running;
        }));
    }
    // Stored, shown, and the scheduler told of `changes` so far.
    void expectJobs(const Jobs& jobs, int changes) {
        EXPECT_EQ(store->load(), jobs);
        EXPECT_EQ(model->jobs(), jobs);
        EXPECT_EQ(scheduler.changes, changes);
    }
    void expectRefusedAsBusy(const SyncJob& job) {
        EXPECT_EQ(errorOf<AppModelError>(update(movedTo(job, "Moved " + job.name))), AppModelError::jobBusy());
        EXPECT_EQ(errorOf<AppModelError>(remove(job.id)), AppModelError::jobBusy());
        EXPECT_EQ(baselineFilesLeft(job.id), 3u);
    }

    std::optional<JobStore> store{std::in_place, tmp / "support/jobs.json"};
    ManualClock clock{Date::fromUnix(1'700'000'000)};
    ManualExecutor main{clock};
    test::FakeRuns runs{true};
    std::unique_ptr<JobRunner> runner = std::make_unique<JobRunner>(runs, main, clock);
    FakeScheduler scheduler;
    SyncCoordinator coordinator{services([this] { return store->load(); }, clock)};
    std::unique_ptr<AppModel> model;
    std::mutex logMutex;  // logged on the runner's queue
    std::vector<std::string> logLines;
};

TEST_F(Model, AnUnreadableHistoryKeepsTheJobsAndTheRecordsBeforeItAndAJobsFileOfAnotherVersionLeavesNoJobs) {
    const SyncJob first = saved("First"), broken = saved("Broken"), last = saved("Last");
    const RunRecord older = record(first.id, RunTrigger::schedule, RunOutcome::success(), clock.now().adding(-7200));
    const RunRecord newer = record(first.id, RunTrigger::manual, RunOutcome::completedWithWarnings(), clock.now());
    for (const RunRecord& r : {older, newer, record(last.id, RunTrigger::manual, RunOutcome::success(), clock.now())})
        history.append(r, 50);
    FileIO::writeAtomically(history.fileURL(broken.id), "[{\"id\":");
    start();
    EXPECT_EQ(model->jobs(), (Jobs{first, broken, last}));
    EXPECT_EQ(model->lastRecords(), (AppModel::RecordMap{{first.id, newer}}));
    EXPECT_TRUE(model->errorMessage());
    EXPECT_ANY_THROW(model->history(broken.id));
    EXPECT_EQ(model->history(first.id), (std::vector<RunRecord>{newer, older}));
    model.reset();
    const std::string version2 = R"({"version":2,"jobs":[]})";
    FileIO::writeAtomically(store->fileURL, version2);
    start();
    EXPECT_TRUE(model->jobs().empty());
    EXPECT_EQ(model->errorMessage(), std::string(JobStoreError::unsupportedVersion(2).what()));
    EXPECT_EQ(errorOf<JobStoreError>(add(makeJob("Photos"))), JobStoreError::unsupportedVersion(2));
    EXPECT_EQ(test::readFile(store->fileURL), version2);
    EXPECT_EQ(scheduler.changes, 0);
    runner->enqueue(Uuid::random(), RunTrigger::schedule);  // the runner is followed all the same
    ASSERT_TRUE(main.runUntil([&] { return !model->statuses().empty(); }));
}

// Updating drops the baseline only when a folder changes and the save succeeds.
TEST_F(Model, MakingAddingAndUpdatingJobs) {
    const SyncJob twoWay = saved("Photos", SyncMode::twoWay), other = saved("Music", SyncMode::twoWay);
    const SyncJob existing = saved("Existing");
    writeBaseline(twoWay.id);
    writeBaseline(other.id);
    start();
    const auto make = [&](const char* from) {
        return answerOf<SyncJob>([&](auto done) { model->makeJob(tmp / from, tmp / "Existing B", done); });
    };
    EXPECT_EQ(make("Existing A").get().name, "Existing A \u2192 Existing B");
    EXPECT_TRUE(errorOf<FileError>(make("Gone")));
    expectJobs({twoWay, other, existing}, 0);  // made, not stored
    const SyncJob twice = makeJob("Twice");
    std::vector<Result<void>> answers;
    for (int i = 0; i < 2; ++i) model->addJob(twice, [&](Result<void> r) { answers.push_back(std::move(r)); });
    ASSERT_TRUE(main.runUntil([&] { return answers.size() == 2; }));
    EXPECT_TRUE(answers[0].hasValue());
    EXPECT_EQ(errorOf<AppModelError>(answers[1]), AppModelError::jobBusy());  // still on its way
    EXPECT_EQ(errorOf<AppModelError>(add(twice)), AppModelError::jobBusy());
    expectJobs({twoWay, other, existing, twice}, 1);
    SyncJob linked = makeJob("Photos");
    fs::create_directory_symlink(tmp / "Photos A", tmp / "Link");
    linked.destination.path = (tmp / "Link").string();
    std::optional<ValidationReport> report;
    model->validate(linked, [&](ValidationReport r) { report = std::move(r); });
    ASSERT_TRUE(main.runUntil([&] { return report.has_value(); }));
    EXPECT_EQ(report->errors, std::vector<ValidationIssue>{ValidationIssue::samePath});
    EXPECT_EQ(errorOf<AppModelError>(add(linked)), AppModelError::invalidJob(*report));
    expectJobs({twoWay, other, existing, twice}, 1);
    SyncJob renamed = twoWay;
    renamed.name = "Pictures";
    ASSERT_TRUE(update(renamed).hasValue());
    EXPECT_EQ(baselineFilesLeft(twoWay.id), 3u);
    const SyncJob moved = movedTo(renamed, "Elsewhere");
    ASSERT_TRUE(update(moved).hasValue());
    EXPECT_EQ(baselineFilesLeft(twoWay.id), 0u);
    EXPECT_EQ(baselineFilesLeft(other.id), 3u);
    expectJobs({moved, other, existing, twice}, 3);
    EXPECT_EQ(errorOf<AppModelError>(update(makeJob("Unknown"))), AppModelError::jobNotFound());
    SyncJob invalid = moved;
    invalid.source.path.clear();
    EXPECT_EQ(errorOf<AppModelError>(update(invalid))->code(), AppModelError::Code::invalidJob);
    expectJobs({moved, other, existing, twice}, 3);
    // So long a name that the temporary file beside it cannot be made: no save succeeds, the baseline stays.
    model.reset();
    const fs::path unsavable = tmp / "support" / std::string(240, 'j');
    fs::rename(store->fileURL, unsavable);
    store.emplace(unsavable);
    writeBaseline(moved.id);
    start();
    for (const auto& failed : {update(movedTo(moved, "Elsewhere again")), remove(moved.id)})
        EXPECT_EQ(errorOf<FileError>(failed).value_or(FileError(0, "", "")).errorNumber(), ENAMETOOLONG);
    EXPECT_EQ(baselineFilesLeft(moved.id), 3u);
    expectJobs({moved, other, existing, twice}, 3);
}

// A killed walk's marker in a folder the job no longer names goes at once, its time kept; a live walk's stays.
TEST_F(Model, DeletingRemovesTheJobItsBaselineItsLastRecordAndTheMarkersKilledWalksLeftInItsFolders) {
    const auto marker = [](const fs::path& folder, char side) {
        const fs::path at = folder / (".KeltoSync-Marker-" + Uuid::random().string() + "-" + side);
        fs::create_directories(folder);
        std::ofstream{at};
        return at;
    };
    const SyncJob kept = saved("Kept"), gone = saved("Gone", SyncMode::twoWay), moved = saved("Moved");
    writeBaseline(gone.id);
    fs::create_directories(coordinator.listFolder(gone.id));
    FileIO::writeAtomically(coordinator.listFolder(gone.id) / "KeltoSync-files-LEFT", "a killed run's");
    history.append(record(gone.id, RunTrigger::manual, RunOutcome::success()), 50);
    const fs::path a = gone.source.path, b = gone.destination.path;
    const fs::path leftAtA = marker(a, 'A'), leftInB = marker(b / ".KeltoSync", 'B'), live = marker(b, 'B');
    const FileDescriptor held(::open(live.c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_EQ(::flock(held.get(), LOCK_EX | LOCK_NB), 0);
    const timespec old[2] = {{1'600'000'000, 0}, {1'600'000'000, 0}};
    ::utimensat(AT_FDCWD, a.c_str(), old, 0);
    const fs::file_time_type aChanged = fs::last_write_time(a);
    const fs::path leftAtMoved = marker(moved.destination.path, 'B');
    start();
    ASSERT_TRUE(model->lastRecords().contains(gone.id));
    ASSERT_TRUE(remove(gone.id).hasValue());
    expectJobs({kept, moved}, 1);
    EXPECT_FALSE(model->lastRecords().contains(gone.id));
    EXPECT_EQ(baselineFilesLeft(gone.id), 0u);
    for (const fs::path& left : {stateFile(gone.id, ".lock"), coordinator.listFolder(gone.id), leftAtA, leftInB})
        EXPECT_FALSE(fs::exists(fs::symlink_status(left))) << left;
    EXPECT_TRUE(fs::exists(live));
    EXPECT_EQ(fs::last_write_time(a), aChanged);
    ASSERT_TRUE(remove(Uuid::random()).hasValue());  // an id not in the file is no error
    ASSERT_TRUE(update(movedTo(moved, "Elsewhere")).hasValue());
    EXPECT_FALSE(fs::exists(leftAtMoved));
}

// Another process read the list before the change: a baseline removed under it would come back.
TEST_F(Model, AJobRunningInAnotherProcessIsNeitherChangedNorDeleted) {
    const SyncJob running = saved("Running", SyncMode::twoWay), job = saved("Photos", SyncMode::twoWay);
    for (const SyncJob& each : {running, job}) writeBaseline(each.id);
    const fs::path run = tmp / "Photos B/.KeltoSync/Archive" / job.id.string() / ArchiveRunID::make(clock.now());
    fs::create_directories(run / "replaced.jpg");
    start();
    model->runNow(running.id);
    runUntilRunning(running.id);
    expectRefusedAsBusy(running);
    std::optional<JobLock> elsewhere = JobLock::tryTake(coordinator.lockFile(job.id));
    ASSERT_TRUE(elsewhere);
    expectRefusedAsBusy(job);
    EXPECT_TRUE(fs::exists(coordinator.lockFile(job.id)));
    clock.advance(60);
    EXPECT_EQ(errorOf<JobRunnerError>(prune(job.id)), JobRunnerError(JobRunnerError::Code::jobBusy));
    EXPECT_TRUE(fs::exists(run / "replaced.jpg"));
    expectJobs({running, job}, 0);
    elsewhere.reset();
    ASSERT_TRUE(prune(job.id).hasValue());
    EXPECT_FALSE(fs::exists(run));
    ASSERT_TRUE(update(movedTo(job, "Moved")).hasValue());
    EXPECT_EQ(baselineFilesLeft(job.id), 0u);
}

TEST_F(Model, WhatAChangeCannotRemoveAfterTheSaveIsLoggedAndTheChangeStands) {
    const SyncJob twoWay = saved("Photos", SyncMode::twoWay), gone = saved("Gone", SyncMode::twoWay);
    const SyncJob kept = saved("Kept");
    writeBaseline(twoWay.id, ".sqlite-wal");
    writeBaseline(gone.id, ".sqlite-shm");
    const fs::path lock = stateFile(gone.id, ".lock");
    FileIO::writeAtomically(tmp / "mounted", "");
    const std::unique_ptr<const fs::path, void (*)(const fs::path*)> unmount(
        ::geteuid() == 0 && ::mount((tmp / "mounted").c_str(), lock.c_str(), nullptr, MS_BIND, nullptr) == 0 ? &lock
                                                                                                              : nullptr,
        [](const fs::path* p) { ::umount2(p->c_str(), MNT_DETACH); });
    ASSERT_TRUE(unmount || ::geteuid() != 0);
    history.append(record(gone.id, RunTrigger::manual, RunOutcome::success()), 50);
    start();
    const SyncJob moved = movedTo(twoWay, "Elsewhere");
    ASSERT_TRUE(update(moved).hasValue());
    ASSERT_TRUE(remove(gone.id).hasValue());
    expectJobs({moved, kept}, 2);
    EXPECT_FALSE(model->lastRecords().contains(gone.id));
    for (const Uuid& id : {twoWay.id, gone.id}) EXPECT_EQ(baselineFilesLeft(id), 0u);
    EXPECT_EQ(loggedWith(stateFile(twoWay.id, ".sqlite-wal.replaced")), 1u);
    EXPECT_EQ(loggedWith(stateFile(gone.id, ".sqlite-shm.replaced")), 1u);
    EXPECT_EQ(loggedWith(lock), unmount ? 1u : 0u);
}

TEST_F(Model, RunAllQueuesTheEnabledJobsInListOrderAndShutdownWaitsUntilNoJobIsRunning) {
    runs.endStoppedRuns(false);
    const SyncJob first = saved("First");
    SyncJob disabled = makeJob("Disabled");
    disabled.isEnabled = false;
    const SyncJob third = makeJob("Third");
    test::saveJobs(*store, {first, disabled, third});
    start();
    model->runNow(Uuid::random());  // not listed: nothing
    model->runAll();
    for (const std::size_t index : {0u, 1u}) runs.endWhenStarted(index, RunOutcome::success());
    EXPECT_EQ(std::tuple(runs.call(0).jobID, runs.call(1).jobID, runs.call(1).trigger),
              std::tuple(first.id, third.id, RunTrigger::manual));
    ASSERT_TRUE(main.runUntil([&] { return model->lastRecords().size() == 2; }));
    settle();
    EXPECT_EQ(runs.runCount(), 2u);
    model->runNow(disabled.id);  // run now does not ask whether the job is enabled
    runUntilRunning(disabled.id);
    ASSERT_TRUE(runs.waitForRuns(3));
    EXPECT_EQ(runs.call(2).jobID, disabled.id);
    // Parked for review while stopping is no longer running.
    model->runNow(first.id);
    bool done = false;
    model->shutdown([&] { done = true; });
    settle();
    main.runPending();
    EXPECT_FALSE(done);
    EXPECT_EQ(model->statuses(), (StatusMap{{disabled.id, RunStatus::running(SyncProgress{})}}));
    SyncPlan plan;
    plan.deletionCount = 3;
    runs.end(2, RunOutcome::needsReview("Review"), plan);
    ASSERT_TRUE(main.runUntil([&] { return done; }));
    EXPECT_EQ(model->statuses(), (StatusMap{{disabled.id, RunStatus::awaitingConfirmation(plan)}}));
    model->runNow(first.id);
    settle();
    EXPECT_EQ(runs.runCount(), 3u);
}

TEST_F(Model, PreviewsRootsAndPruningRefuseUnknownAndBusyJobsAndPassTheCoordinatorsErrorsOn) {
    SyncJob unplugged = makeJob("Photos");
    unplugged.destination = endpointAt(disk("Stick", "USB-1") / "Backup");
    SyncJob twoWay = makeJob("Music", SyncMode::twoWay);
    twoWay.options.archiveRetentionDays = 365;
    test::saveJobs(*store, {unplugged, twoWay});
    const SyncJob busy = saved("Busy");
    unplug(tmp / "Stick");
    const Date now = clock.now();
    const std::vector<fs::path> sides{tmp / "Music A", tmp / "Music B"};
    const std::string future = ArchiveRunID::make(now.adding(3600));
    for (const fs::path& side : sides) {
        const fs::path archive = side / ".KeltoSync/Archive" / twoWay.id.string();
        fs::create_directories(archive / ArchiveRunID::make(now.adding(-60)) / "old.jpg");
        fs::create_directories(archive / ArchiveRunID::make(now.adding(-86400 * 3)));
        fs::create_directories(archive / "Not a run");
        fs::create_directories(archive / future);
    }
    start();
    EXPECT_EQ(roots(twoWay.id).get(), sides);
    ASSERT_TRUE(prune(twoWay.id).hasValue());
    for (const fs::path& side : sides)
        EXPECT_EQ(test::namesIn(side / ".KeltoSync/Archive" / twoWay.id.string()),
                  (decltype(test::namesIn(side)){"Not a run", future}));
    EXPECT_EQ(errorOf<AppModelError>(preview(Uuid::random())), AppModelError::jobNotFound());
    EXPECT_EQ(errorOf<SyncPreviewError>(preview(unplugged.id)),
              SyncPreviewError::unavailable(SkipReason::deviceNotConnected));
    model->runNow(busy.id);
    runUntilRunning(busy.id);
    EXPECT_EQ(errorOf<AppModelError>(preview(busy.id)), AppModelError::jobBusy());
    const Uuid gone = Uuid::random();  // gone from the file: the coordinator's own error
    EXPECT_EQ(errorOf<SyncPreviewError>(roots(gone)), SyncPreviewError::jobNotFound());
    EXPECT_EQ(errorOf<SyncPreviewError>(prune(gone)), SyncPreviewError::jobNotFound());
    EXPECT_EQ(roots(unplugged.id).get(), std::vector<fs::path>{});
    model.reset();
    start(false);  // without a coordinator no job is found
    EXPECT_EQ(errorOf<AppModelError>(preview(unplugged.id)), AppModelError::jobNotFound());
    EXPECT_EQ(errorOf<AppModelError>(roots(unplugged.id)), AppModelError::jobNotFound());
    EXPECT_EQ(errorOf<AppModelError>(prune(unplugged.id)), AppModelError::jobNotFound());
}

TEST_F(Model, ObserversHearOnlyOfChangesButAlwaysOfTheCallbackAndOfSingleRecords) {
    const SyncJob job = saved("Photos");
    start();
    std::map<Property, int> notices;
    std::vector<Subscription> watches;
    for (Property property : {Property::jobs, Property::statuses, Property::lastRecords, Property::errorMessage,
                              Property::onRunFinished, Property::manualSkip, Property::requestedJobID,
                              Property::nextFireDates})
        watches.push_back(model->observe(property, [&notices, property] { ++notices[property]; }));
    scheduler.notice.set(1);
    EXPECT_EQ(notices, (std::map<Property, int>{{Property::nextFireDates, 1}}));
    notices.clear();
    for (int twice = 0; twice < 2; ++twice) {
        model->setErrorMessage("Could not read");
        model->setRequestedJobID(job.id);
        model->setOnRunFinished({});
    }
    model->setManualSkip(std::nullopt);
    EXPECT_EQ(notices, (std::map<Property, int>{
                           {Property::errorMessage, 1}, {Property::requestedJobID, 1}, {Property::onRunFinished, 2}}));
    // The same job saved again: the file is news, the list is not.
    notices.clear();
    ASSERT_TRUE(update(job).hasValue());
    EXPECT_EQ(scheduler.changes, 1);
    // Deleting an unlisted job removes a key that is not there: still news.
    ASSERT_TRUE(remove(Uuid::random()).hasValue());
    EXPECT_EQ(notices, (std::map<Property, int>{{Property::lastRecords, 1}}));
    // The runner republishes an unchanged map when an idle job is cancelled.
    notices.clear();
    model->cancel(Uuid::random());
    settle();
    EXPECT_TRUE(notices.empty());
    // A finished run is recorded, then noticed as a manual skip, then called back. A skipped scheduled run is no manual
    // skip, and records of jobs not listed are dropped.
    std::vector<std::string> events;
    const auto records = model->observe(Property::lastRecords, [&] { events.push_back("lastRecords"); });
    const auto skips = model->observe(Property::manualSkip, [&] { events.push_back("manualSkip"); });
    model->setOnRunFinished([&](const RunRecord& finished) {
        events.push_back("finished " + std::string(enumName(finished.trigger)));
        EXPECT_EQ(model->lastRecords().at(job.id), finished);
    });
    std::vector<RunRecord> published;  // the model hears of a record first
    const auto after = runner->observeCompletions(main, [&](const RunRecord& r) { published.push_back(r); });
    const auto finish = [&](RunTrigger trigger, const Uuid& id, std::size_t index, SkipReason reason) {
        events.clear();
        runner->enqueue(id, trigger);
        runs.endWhenStarted(index, RunOutcome::skipped(reason));
        ASSERT_TRUE(main.runUntil([&] { return published.size() == index + 1; }));
    };
    finish(RunTrigger::manual, job.id, 0, SkipReason::deviceNotConnected);
    EXPECT_EQ(events, (std::vector<std::string>{"lastRecords", "manualSkip", "finished manual"}));
    const RunRecord shown = model->manualSkip().value_or(RunRecord{});
    EXPECT_EQ(shown.outcome, RunOutcome::skipped(SkipReason::deviceNotConnected));
    finish(RunTrigger::schedule, job.id, 1, SkipReason::folderMissing);
    EXPECT_EQ(events, (std::vector<std::string>{"lastRecords", "finished schedule"}));
    EXPECT_EQ(model->lastRecords().at(job.id).trigger, RunTrigger::schedule);
    const Uuid stranger = Uuid::random();
    finish(RunTrigger::manual, stranger, 2, SkipReason::deviceNotConnected);
    EXPECT_TRUE(events.empty());
    EXPECT_FALSE(model->lastRecords().contains(stranger));
    EXPECT_EQ(model->manualSkip(), shown);
    int answers = 0;
    model->validate(job, [&](ValidationReport) { ++answers; });
    model->archiveRoots(job.id, [&](Result<AppModel::Roots>) { ++answers; });
    model->deleteJob(job.id, [&](Result<void>) { ++answers; });
    model->preview(Uuid::random(), [&](Result<SyncPlan>) { ++answers; });
    model.reset();
    settle();
    main.runPending();
    EXPECT_EQ(answers, 0);
}

}  // namespace
}  // namespace kelto
