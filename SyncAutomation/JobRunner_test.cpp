#include "SyncAutomation/JobRunner.h"

#include "SyncAutomation/Async/ManualExecutor.h"
#include "SyncAutomation/AutomationFakes_test.h"
#include "SyncAutomation/JobRunnerError.h"
#include "SyncEngine/CancellationError.h"

#include <gtest/gtest.h>

#include <future>
#include <stdexcept>

namespace kelto {
namespace {

using StatusMap = JobRunner::StatusMap;
using test::patience;
using test::record;

SyncPlan planWith(std::int64_t deletions) {
    SyncPlan plan;
    plan.deletionCount = deletions;
    return plan;
}

SyncProgress progressAt(std::int64_t filesDone) {
    SyncProgress progress;
    progress.filesDone = filesDone;
    return progress;
}

// Previews block as runs do until the test answers them through `calls`.
struct FakePreviewer final : RunPreviewing {
    test::FakeRuns calls{true};
    SyncPlan preview(const Uuid& jobID, std::stop_token stop) override {
        const RunResult result = calls.run(jobID, RunTrigger::manual, nullptr, {}, stop);
        if (stop.stop_requested()) throw CancellationError();
        return result.review.value_or(SyncPlan{});
    }
};

// Keeps the thread that posts here waiting until the test lets it go; the work itself is never run.
struct HoldingExecutor final : Executor {
    std::promise<void> posted, release;
    std::shared_future<void> released = release.get_future().share();
    void post(Work) override {
        posted.set_value();
        released.wait();
    }
};

using PreviewFailure = std::domain_error;  // a type nothing else throws

void expectBusy(const std::exception_ptr& error) {
    EXPECT_EQ(test::errorOf<JobRunnerError>(Result<void>(error)), JobRunnerError(JobRunnerError::Code::jobBusy));
}

struct Runner : ::testing::Test {
    ~Runner() override {
        runs.endStoppedRuns(true);
        runner.reset();
    }
    bool enqueue(const Uuid& jobID, RunTrigger trigger = RunTrigger::manual) {
        std::optional<bool> accepted;
        runner->enqueue(jobID, trigger, [&](bool answer) { accepted = answer; });
        EXPECT_TRUE(main.runUntil([&] { return accepted.has_value(); }));
        return accepted.value_or(false);
    }
    void enqueueAll(std::initializer_list<Uuid> jobs) {
        for (const Uuid& job : jobs) ASSERT_TRUE(enqueue(job));
    }
    template <typename Operation>
    void await(Operation operation) {
        bool done = false;
        operation([&] { done = true; });
        EXPECT_TRUE(main.runUntil([&] { return done; }));
    }
    void cancel(const Uuid& jobID) { await([&](auto done) { runner->cancel(jobID, done); }); }
    // Confirms `shown`, or the plan the statuses show for review, as a review sheet does.
    void confirm(const Uuid& jobID, std::shared_ptr<const SyncPlan> shown = nullptr) {
        const auto status = statuses.find(jobID);
        const auto* parked = status == statuses.end() ? nullptr : status->second.as<RunStatus::AwaitingConfirmation>();
        if (!shown) shown = parked ? parked->plan : std::make_shared<const SyncPlan>();
        await([&](auto done) { runner->confirm(jobID, shown, done); });
    }
    Result<void> performIfIdle(const Uuid& jobID, std::function<void()> work) {
        std::optional<Result<void>> result;
        runner->performIfIdle(jobID, std::move(work), [&](Result<void> answer) { result = std::move(answer); });
        EXPECT_TRUE(main.runUntil([&] { return result.has_value(); }));
        return result.value_or(Result<void>());
    }
    // What was posted to the runner so far has been handled, and its answers have run.
    void settle() { performIfIdle(Uuid::random(), [] {}); }
    void startPreview(const Uuid& jobID, std::optional<Result<SyncPlan>>& into) {
        runner->preview(jobID, previewer, [&into](Result<SyncPlan> result) { into = std::move(result); });
    }
    Result<SyncPlan> awaitPreview(std::optional<Result<SyncPlan>>& result) {
        if (main.runUntil([&] { return result.has_value(); })) return *result;
        return Result<SyncPlan>(std::make_exception_ptr(std::logic_error("the preview was never answered")));
    }
    bool waitForRecords(std::size_t count) { return main.runUntil([&] { return records.size() >= count; }); }
    // Run `index` ends asking for review of a plan of `deletions` and is parked.
    void park(std::size_t index, std::int64_t deletions = 60) {
        runs.endWhenStarted(index, RunOutcome::needsReview("Review deletions"), planWith(deletions));
        ASSERT_TRUE(waitForRecords(index + 1));
        settle();
    }
    void report(std::size_t index, std::int64_t files) {
        clock.advance(0.5);
        runs.report(index, progressAt(files));
        settle();
    }
    StatusMap firstMapOfANewObserver() {
        std::optional<StatusMap> first;
        auto late = runner->observeStatuses(main, [&](const StatusMap& map) {
            if (!first) first = map;
        });
        main.runPending();
        return first.value_or(StatusMap{{Uuid::random(), started}});
    }

    const Uuid a = Uuid::random(), b = Uuid::random(), c = Uuid::random();
    const RunStatus started = RunStatus::running(SyncProgress{});
    ManualClock clock;
    ManualExecutor main{clock};
    test::FakeRuns runs{false};
    FakePreviewer previewer;
    std::unique_ptr<JobRunner> runner = std::make_unique<JobRunner>(runs, main, clock);
    StatusMap statuses;  // the newest map delivered
    std::vector<RunRecord> records;
    Subscription statusSubscription = runner->observeStatuses(main, [this](const StatusMap& map) { statuses = map; });
    Subscription recordSubscription =
        runner->observeCompletions(main, [this](const RunRecord& record) { records.push_back(record); });
};

TEST_F(Runner, RunsJobsFirstInFirstOutOneAtATimeEvenWhereOneThrowsTheNextOnceTheRecordIsOutNewObserversSeeNow) {
    EXPECT_TRUE(firstMapOfANewObserver().empty());
    using enum RunTrigger;
    const std::pair<Uuid, RunTrigger> order[]{{a, manual}, {b, schedule}, {c, connect}};
    for (const auto& [job, trigger] : order) ASSERT_TRUE(enqueue(job, trigger));
    EXPECT_EQ(statuses, (StatusMap{{a, started}, {b, RunStatus::queued()}, {c, RunStatus::queued()}}));
    for (std::size_t index = 0; index < 3; ++index) {
        ASSERT_TRUE(runs.waitForRuns(index + 1));
        settle();
        EXPECT_EQ(runs.runCount(), index + 1);  // the next waits for this one
        if (index == 1)  // a run that throws breaks a promise, but not the queue
            runs.throwWhenStarted(1, std::make_exception_ptr(std::runtime_error("disk exploded")));
        else
            runs.end(index, RunOutcome::success());
        ASSERT_TRUE(waitForRecords(index + 1));
        EXPECT_EQ(std::pair(runs.call(index).jobID, runs.call(index).trigger), order[index]);
        EXPECT_EQ(std::pair(records[index].jobID, records[index].trigger), order[index]);
        EXPECT_FALSE(runs.call(index).reviewed);
    }
    ASSERT_TRUE(main.runUntil([&] { return statuses.empty(); }));
    std::vector<RunRecord> seen;
    auto completions = runner->observeCompletions(main, [&](const RunRecord& r) { seen.push_back(r); });
    main.runPending();
    EXPECT_TRUE(seen.empty()) << "no past records";
    EXPECT_EQ(records[1].outcome, RunOutcome::failed("disk exploded"));
    // The next job stays queued until the record is published.
    HoldingExecutor holding;
    auto held = runner->observeCompletions(holding, [](const RunRecord&) {});
    enqueueAll({a, b});
    runs.endWhenStarted(3, RunOutcome::success());
    // The runner is handing A's record over.
    ASSERT_EQ(holding.posted.get_future().wait_for(patience), std::future_status::ready);
    EXPECT_EQ(firstMapOfANewObserver(), (StatusMap{{b, RunStatus::queued()}}));
    EXPECT_EQ(runs.runCount(), 4u);
    holding.release.set_value();
    ASSERT_TRUE(runs.waitForRuns(5));
    held.reset();
}

TEST_F(Runner, ABusyJobIsRefusedRunsPreviewsAndIdleWork) {
    bool ranOffMain = false;
    EXPECT_TRUE(performIfIdle(a, [&] { ranOffMain = !main.isCurrent(); }).hasValue());
    EXPECT_TRUE(ranOffMain);
    EXPECT_THROW(performIfIdle(a, [] { throw PreviewFailure("disk full"); }).get(), PreviewFailure);
    enqueueAll({a, b});
    std::optional<Result<SyncPlan>> first;
    startPreview(c, first);
    ASSERT_TRUE(previewer.calls.waitForRuns(1));
    int ran = 0;
    const auto expectRefused = [&](const Uuid& job) {
        EXPECT_FALSE(enqueue(job));
        expectBusy(performIfIdle(job, [&] { ++ran; }).error());
        std::optional<Result<SyncPlan>> refused;
        startPreview(job, refused);
        expectBusy(awaitPreview(refused).error());
    };
    for (const Uuid& job : {a, b, c}) expectRefused(job);  // running, queued, being previewed
    park(0, 40);
    ASSERT_TRUE(runs.waitForRuns(2));
    expectRefused(a);  // parked
    EXPECT_EQ(ran, 0);
    const auto failure = std::make_exception_ptr(PreviewFailure("The disk is not connected."));
    previewer.calls.throwWhenStarted(0, failure);
    EXPECT_EQ(awaitPreview(first).error(), failure);  // the very error the previewer threw
    std::optional<Result<SyncPlan>> again;
    startPreview(c, again);
    ASSERT_TRUE(previewer.calls.waitForRuns(2));
    previewer.calls.end(1, RunOutcome::success(), planWith(3));
    EXPECT_EQ(awaitPreview(again).get(), planWith(3));
    EXPECT_TRUE(performIfIdle(c, [&] { ++ran; }).hasValue());
    EXPECT_EQ(ran, 1);
    runs.end(1, RunOutcome::success());
    ASSERT_TRUE(waitForRecords(2));
    settle();
    EXPECT_EQ(runs.runCount(), 2u);  // b's second request never made it into the queue
    EXPECT_TRUE(enqueue(c));
}

// Even where a newer plan is parked by then.
TEST_F(Runner, AConfirmedRunCarriesThePlanShownForReview) {
    ASSERT_TRUE(enqueue(a, RunTrigger::schedule));
    enqueueAll({b, c});
    park(0);
    EXPECT_EQ(records[0].outcome, RunOutcome::needsReview("Review deletions"));
    ASSERT_TRUE(runs.waitForRuns(2));  // the next job starts meanwhile
    settle();
    EXPECT_EQ(statuses, (StatusMap{{a, RunStatus::awaitingConfirmation(planWith(60))}, {b, started},
                                   {c, RunStatus::queued()}}));
    const auto sheet = statuses.at(a).as<RunStatus::AwaitingConfirmation>()->plan;
    // A plan can list every file of a large tree: each map sent out at another job's report shares it.
    report(1, 5);
    EXPECT_EQ(statuses.at(a).as<RunStatus::AwaitingConfirmation>()->plan, sheet);
    confirm(b);  // not parked: nothing happens
    confirm(a);
    EXPECT_EQ(statuses, (StatusMap{{a, RunStatus::queued()}, {b, RunStatus::running(progressAt(5))},
                                   {c, RunStatus::queued()}}));
    runs.end(1, RunOutcome::success());
    runs.endWhenStarted(2, RunOutcome::success());
    ASSERT_TRUE(runs.waitForRuns(4));
    EXPECT_EQ(std::tuple(runs.call(3).jobID, runs.call(3).reviewed, runs.call(3).trigger),
              std::tuple(a, std::optional(planWith(60)), RunTrigger::schedule));  // confirmed, a went to the back
    park(3, 80);
    EXPECT_EQ(statuses, (StatusMap{{a, RunStatus::awaitingConfirmation(planWith(80))}}));
    confirm(a, sheet);  // Continue on the older sheet
    ASSERT_TRUE(runs.waitForRuns(5));
    EXPECT_EQ(runs.call(4).reviewed, planWith(60));
    runs.end(4, RunOutcome::success());
    ASSERT_TRUE(main.runUntil([&] { return statuses.empty() && records.size() == 5; }));
}

// The active run is stopped and keeps its place until its record comes.
TEST_F(Runner, CancellingOrDecliningQueuedActiveAndParkedRunsLeavesNothingParked) {
    enqueueAll({a, b, c});
    ASSERT_TRUE(runs.waitForRuns(1));
    cancel(b);
    EXPECT_EQ(statuses, (StatusMap{{a, started}, {c, RunStatus::queued()}}));
    EXPECT_FALSE(runs.call(0).stop.stop_requested());
    cancel(a);
    EXPECT_TRUE(runs.call(0).stop.stop_requested());
    EXPECT_EQ(statuses, (StatusMap{{a, started}, {c, RunStatus::queued()}}));
    EXPECT_TRUE(records.empty());
    runs.end(0, RunOutcome::cancelled());
    ASSERT_TRUE(waitForRecords(1));
    EXPECT_EQ(records[0].outcome, RunOutcome::cancelled());
    ASSERT_TRUE(runs.waitForRuns(2));
    EXPECT_EQ(runs.call(1).jobID, c);
    park(1);
    ASSERT_TRUE(enqueue(a));
    park(2);
    ASSERT_TRUE(enqueue(b));
    runs.endWhenStarted(3, RunOutcome::needsReview("rsync asked for review"));
    ASSERT_TRUE(waitForRecords(4));
    settle();
    EXPECT_EQ(statuses.size(), 2u);
    await([&](auto done) { runner->decline(c, done); });
    cancel(a);
    EXPECT_TRUE(statuses.empty());
    for (const Uuid& job : {a, b}) confirm(job);
    settle();
    EXPECT_TRUE(statuses.empty());
    EXPECT_EQ(records.size(), 4u);
    EXPECT_EQ(runs.runCount(), 4u);
}

TEST_F(Runner, ProgressIsThrottledToOneReportInATenthOfASecondAndKeptToItsAttempt) {
    ASSERT_TRUE(enqueue(a));
    ASSERT_TRUE(runs.waitForRuns(1));
    // Seconds since the start, and the files shown after the report then.
    const std::vector<std::pair<double, std::int64_t>> steps{{0.05, 0}, {0.15, 2}, {0.20, 2}, {0.30, 4}};
    double at = 0;
    std::int64_t files = 1;
    for (const auto& [time, shown] : steps) {
        clock.advance(time - at);
        at = time;
        runs.report(0, progressAt(files++));
        settle();
        EXPECT_EQ(statuses.at(a), shown ? RunStatus::running(progressAt(shown)) : started) << time;
    }
    park(0);
    confirm(a);
    ASSERT_TRUE(runs.waitForRuns(2));
    report(0, 7);  // the attempt that asked for review, late
    EXPECT_EQ(statuses.at(a), started);
    report(1, 8);
    EXPECT_EQ(statuses.at(a), RunStatus::running(progressAt(8)));
}

TEST_F(Runner, ShutdownDropsWaitingRunsAndStopsTheActiveOneAndDestructionWaitsForTheRunAndPreviews) {
    ASSERT_TRUE(enqueue(c));
    park(0);
    enqueueAll({a, b});
    ASSERT_TRUE(runs.waitForRuns(2));
    std::optional<Result<SyncPlan>> preview;
    startPreview(Uuid::random(), preview);
    ASSERT_TRUE(previewer.calls.waitForRuns(1));
    await([&](auto done) { runner->shutdown(done); });
    EXPECT_EQ(statuses, (StatusMap{{a, started}}));
    EXPECT_TRUE(runs.call(1).stop.stop_requested());
    EXPECT_FALSE(enqueue(b));
    confirm(c);  // its parked run went with the shutdown
    settle();
    EXPECT_EQ(runs.runCount(), 2u);
    runs.endStoppedRuns(true);
    runner.reset();  // the fixture's subscriptions end after it
    EXPECT_TRUE(runs.call(1).returned);
    runs.report(1, progressAt(1));  // after the runner has gone: dropped
    main.runPending();  // what the stopped work handed back before the runner went
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].outcome, RunOutcome::cancelled());
    ASSERT_TRUE(preview);
    EXPECT_THROW(preview->get(), CancellationError);
}

}  // namespace
}  // namespace kelto
