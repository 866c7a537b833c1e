// "Sync all" and a row's run button over the real application model and
// runner, with runs that end at once.
#include "Kelto_Sync/AppModelAdapter.h"
#include "Kelto_Sync/Status/JobRunButton.h"
#include "Kelto_Sync/Tray/MenuBarContent.h"
#include "Kelto_Sync/Tray/MenuBarJobRow.h"
#include "SyncAutomation/AppModel.h"
#include "SyncAutomation/Async/ManualExecutor.h"
#include "SyncAutomation/JobRunner.h"
#include "tests/support/SavedJobs.h"
#include "tests/views/main/MainFixtures.h"

#include <QTemporaryDir>

#include <mutex>

namespace kelto {
namespace {

struct InstantRuns final : RunExecuting {
    RunResult run(const Uuid& jobID, RunTrigger trigger, const SyncPlan*, const ProgressCallback&, std::stop_token) override {
        std::lock_guard lock(mutex);
        started.push_back(jobID);
        RunRecord done;
        done.id = Uuid::random();
        done.jobID = jobID;
        done.trigger = trigger;
        return RunResult{done, {}};
    }
    std::vector<Uuid> startedSoFar() {
        std::lock_guard lock(mutex);
        return started;
    }
    std::mutex mutex;
    std::vector<Uuid> started;
};

struct NoSchedule final : JobScheduling {
    void jobsChanged() override {}
    std::optional<Date> pendingFire(const Uuid&) const override { return std::nullopt; }
    Subscription observePendingFires(std::function<void()>) override { return {}; }
};

TEST(MenuBarSyncAll, WithEveryJobPausedEnqueuesNothingWhileARowStillRunsItsJob) {
    QTemporaryDir folder;
    const std::filesystem::path root = folder.path().toStdString();
    ManualClock clock{Date::fromUnix(1'700'000'000)};
    ManualExecutor main{clock};
    InstantRuns runs;
    JobStore store{root / "jobs.json"};
    RunHistoryStore history{root / "history", root / "logs"};
    JobRunner runner{runs, main, clock};
    NoSchedule scheduler;
    SyncJob first = namedJob("First");
    SyncJob second = namedJob("Second");
    first.isEnabled = second.isEnabled = false;
    test::saveJobs(store, {first, second});
    AppModel appModel({.main = main, .store = store, .history = history, .runner = runner, .scheduler = scheduler,
                       .clock = clock});
    main.runPending();
    AppModelAdapter model(appModel);
    FakeDotSources dots;
    MenuBarContent content(model, SyncStrings{}, {}, dots.sources(), clock);
    content.show();
    settle();
    ASSERT_EQ(content.rows().size(), 2u);
    // Everything the runner was handed so far has been handled.
    const auto drain = [&] {
        bool idle = false;
        runner.performIfIdle(Uuid::random(), [] {}, [&](Result<void>) { idle = true; });
        return main.runUntil([&] { return idle; });
    };
    QTest::mouseClick(content.syncAllButton(), Qt::LeftButton);
    ASSERT_TRUE(drain());
    EXPECT_TRUE(runs.startedSoFar().empty());
    EXPECT_TRUE(appModel.statuses().empty());
    QTest::mouseClick(content.rows()[1]->runButton(), Qt::LeftButton);
    ASSERT_TRUE(main.runUntil([&] { return appModel.lastRecords().count(second.id) == 1; }));
    EXPECT_EQ(runs.startedSoFar(), std::vector<Uuid>{second.id});
    // The row follows the model: its third line now tells when the run ended.
    EXPECT_FALSE(content.rows()[1]->whenText().isEmpty());
}

}  // namespace
}  // namespace kelto
