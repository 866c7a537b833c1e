// The headless application end to end over real folders; main executor and clock manual.

#include "SyncAutomation/AppModel.h"
#include "SyncAutomation/Async/ManualExecutor.h"
#include "SyncAutomation/Async/WorkerPool.h"
#include "SyncAutomation/AutomationScheduler.h"
#include "tests/CoordinatorRunFixture.h"
#include "tests/support/FakeSystemEvents.h"
#include "tests/support/FakeVolumeEvents.h"

namespace kelto::test {
namespace {

using Files = std::map<std::string, std::string>;

class EndToEnd : public ::testing::Test {
protected:
    TemporaryFolder tmp;
    const fs::path support = tmp / "support";
    const fs::path a = tmp / "a", b = tmp / "b";
    FakeVolumeSource volumes;
    // 2026-03-01 14:05:09 UTC
    ManualClock clock{Date::fromUnix(1'772'373'909)};
    ManualExecutor main{clock};
    WorkerPool workers{2};
    JobStore store{support / "jobs.json"};
    RunHistoryStore history{support / "history", tmp / "logs"};
    const std::shared_ptr<RsyncProcess> rsync =
        std::make_shared<RsyncProcess>(RsyncLocator::requireExecutable(KELTO_BUNDLE_DIR));
    FakeSleepInhibitor inhibitor;
    FakeVolumeEjector ejector;
    FakeSystemEvents systemEvents;
    FakeVolumeEvents volumeEvents;
    SyncCoordinator coordinator{{
        .jobs =
            [this] {
                try {
                    return store.load();
                } catch (const std::exception&) {
                    return std::vector<SyncJob>{};
                }
            },
        .rsync = rsync,
        .supportDirectory = support,
        .logDirectory = tmp / "logs",
        .history = history,
        .volumes = [this] { return VolumeInspector::mountedVolumes(volumes); },
        .isOnBattery = [] { return false; },
        .freeSpace = SyncCoordinator::availableSpace,
        .identityAt = [this](const fs::path& path) { return VolumeInspector::identity(path, volumes); },
        .sleepInhibitor = inhibitor,
        .ejector = ejector,
        .clock = clock,
    }};
    JobRunner runner{coordinator, main, clock};
    // Made before the model, started once it exists; both go before the runner.
    std::unique_ptr<AutomationScheduler> scheduler;
    std::unique_ptr<AppModel> model;
    std::vector<RunRecord> finished;  // as the run-finished callback got them
    EndToEnd() {
        volumes.add("/", volumeIdentity(VolumeKind::internal, "ROOT", "system"));
        fs::create_directories(a);
        fs::create_directories(b);
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
        s.volumes = [this] { return VolumeInspector::mountedVolumes(volumes); };
        s.identityAt = [this](const fs::path& path) { return VolumeInspector::identity(path, volumes); };
        s.supportDirectory = support;
        return s;
    }
    SyncJob mirrorJob() {
        SyncJob job = SyncJob::newJob("Photos");
        job.mode = SyncMode::mirror;
        job.source = VolumeInspector::endpoint(a, volumes);
        job.destination = VolumeInspector::endpoint(b, volumes);
        return job;
    }
    void add(const SyncJob& job) {
        std::optional<Result<void>> answer;
        model->addJob(job, [&](Result<void> result) { answer = std::move(result); });
        ASSERT_TRUE(main.runUntil([&] { return answer.has_value(); }));
        ASSERT_TRUE(answer->hasValue());
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
