#include "SyncAutomation/JobRunner.h"

#include "SyncAutomation/Async/ManualExecutor.h"
#include "SyncAutomation/JobRunnerError.h"
#include "SyncEngine/CancellationError.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <ostream>
#include <stdexcept>
#include <string>
#include <thread>

namespace kelto {

void PrintTo(const Uuid& id, std::ostream* out) { *out << id.string(); }

void PrintTo(const RunStatus& status, std::ostream* out) {
    switch (status.kind()) {
        case RunStatus::Kind::running: {
            const auto& progress = status.as<RunStatus::Running>()->progress;
            *out << "running(" << enumName(progress.phase) << ", files " << progress.filesDone << ")";
            break;
        }
        case RunStatus::Kind::awaitingConfirmation:
            *out << "awaitingConfirmation(deletions " << status.as<RunStatus::AwaitingConfirmation>()->plan->deletionCount
                 << ")";
            break;
        case RunStatus::Kind::queued: *out << "queued"; break;
    }
}

namespace {

using namespace std::chrono_literals;
using StatusMap = JobRunner::StatusMap;

constexpr auto patience = 20s;  // only a hung test ever waits this long

const SyncPlan& parkedPlan(const RunStatus& status) { return *status.as<RunStatus::AwaitingConfirmation>()->plan; }

RunRecord record(const Uuid& jobID, RunTrigger trigger, RunOutcome outcome) {
    RunRecord result;
    result.id = Uuid::random();
    result.jobID = jobID;
    result.trigger = trigger;
    result.outcome = std::move(outcome);
    return result;
}

SyncPlan planWith(std::int64_t deletions) {
    SyncPlan plan;
    plan.entryCountA = 10;
    plan.deletionCount = deletions;
    return plan;
}

SyncProgress progressAt(std::int64_t filesDone) {
    SyncProgress progress;
    progress.phase = SyncPhase::transferring;
    progress.filesDone = filesDone;
    progress.filesTotal = 100;
    return progress;
}

// Runs that block until the test ends them, one by one.
class FakeExecutor final : public RunExecuting {
public:
    struct Call {
        Uuid jobID;
        RunTrigger trigger = RunTrigger::manual;
        bool confirmed = false;
        std::optional<SyncPlan> reviewed;  // what a confirmed run carried
        ProgressCallback progress;
        std::stop_token stop;
        std::optional<RunResult> result;
        bool returned = false;
    };

    RunResult run(const Uuid& jobID, RunTrigger trigger, const SyncPlan* reviewed, const ProgressCallback& progress,
                  std::stop_token stop) override {
        std::stop_callback wake(stop, [this] {
            std::lock_guard lock(mutex_);
            changed_.notify_all();
        });
        std::unique_lock lock(mutex_);
        const std::optional<SyncPlan> carried = reviewed ? std::optional(*reviewed) : std::nullopt;
        Call& call = calls_.emplace_back(Call{jobID, trigger, reviewed != nullptr, carried, progress, stop, {}, false});
        maxRunning_ = std::max(maxRunning_, ++running_);
        changed_.notify_all();
        changed_.wait(lock, [&] { return call.result || (endWhenStopped_ && stop.stop_requested()); });
        RunResult result = call.result ? *call.result : RunResult{record(jobID, trigger, RunOutcome::cancelled()), {}};
        --running_;
        call.returned = true;
        changed_.notify_all();
        return result;
    }

    bool waitForRuns(std::size_t count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, patience, [&] { return calls_.size() >= count; });
    }
    std::size_t runCount() {
        std::lock_guard lock(mutex_);
        return calls_.size();
    }
    Call call(std::size_t index) {
        std::lock_guard lock(mutex_);
        return calls_.at(index);
    }
    // Ends run `index` with `result` and waits until the executor has returned.
    void end(std::size_t index, RunResult result) {
        std::unique_lock lock(mutex_);
        calls_.at(index).result = std::move(result);
        changed_.notify_all();
        changed_.wait_for(lock, patience, [&] { return calls_.at(index).returned; });
    }
    void end(std::size_t index, RunOutcome outcome, std::optional<SyncPlan> review = std::nullopt) {
        const Call made = call(index);
        end(index, RunResult{record(made.jobID, made.trigger, std::move(outcome)), std::move(review)});
    }
    // Calls the progress callback run `index` was given, from the test's thread.
    void report(std::size_t index, const SyncProgress& progress) {
        ProgressCallback callback = call(index).progress;
        callback(progress);
    }
    // From now on a stopped run returns a cancelled record by itself.
    void endRunsWhenStopped() {
        std::lock_guard lock(mutex_);
        endWhenStopped_ = true;
        changed_.notify_all();
    }
    int maxRunning() {
        std::lock_guard lock(mutex_);
        return maxRunning_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Call> calls_;  // a deque: references stay valid as calls are added
    int running_ = 0;
    int maxRunning_ = 0;
    bool endWhenStopped_ = false;
};

// Previews that block until the test answers them; a stopped one gives up.
class FakePreviewer final : public RunPreviewing {
public:
    SyncPlan preview(const Uuid& jobID, std::stop_token stop) override {
        std::stop_callback wake(stop, [this] {
            std::lock_guard lock(mutex_);
            changed_.notify_all();
        });
        std::unique_lock lock(mutex_);
        Call& call = calls_.emplace_back(Call{jobID, {}, {}, false});
        changed_.notify_all();
        changed_.wait(lock, [&] { return call.answered || stop.stop_requested(); });
        if (!call.answered) throw CancellationError();
        if (call.error) std::rethrow_exception(call.error);
        return call.plan;
    }

    bool waitForPreviews(std::size_t count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, patience, [&] { return calls_.size() >= count; });
    }
    void answer(std::size_t index, SyncPlan plan) {
        std::lock_guard lock(mutex_);
        calls_.at(index).plan = std::move(plan);
        calls_.at(index).answered = true;
        changed_.notify_all();
    }
    void fail(std::size_t index, std::exception_ptr error) {
        std::lock_guard lock(mutex_);
        calls_.at(index).error = std::move(error);
        calls_.at(index).answered = true;
        changed_.notify_all();
    }

private:
    struct Call {
        Uuid jobID;
        SyncPlan plan;
        std::exception_ptr error;
        bool answered;
    };
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Call> calls_;
};

// Keeps the thread that posts here waiting until the test lets it go; the
// work itself is never run.
class HoldingExecutor final : public Executor {
public:
    void post(Work work) override {
        std::unique_lock lock(mutex_);
        held_.push_back(std::move(work));
        changed_.notify_all();
        changed_.wait(lock, [&] { return released_; });
    }
    bool waitForPost() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, patience, [&] { return !held_.empty(); });
    }
    void release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Work> held_;
    bool released_ = false;
};

class PreviewFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

void expectBusy(const std::exception_ptr& error) {
    ASSERT_TRUE(error);
    try {
        std::rethrow_exception(error);
    } catch (const JobRunnerError& busy) {
        EXPECT_EQ(busy.code(), JobRunnerError::Code::jobBusy);
    } catch (...) {
        ADD_FAILURE() << "not a JobRunnerError";
    }
}

struct Runner : ::testing::Test {
    ~Runner() override {
        runs.endRunsWhenStopped();
        runner.reset();
    }

    bool enqueue(const Uuid& jobID, RunTrigger trigger = RunTrigger::manual) {
        std::optional<bool> accepted;
        runner->enqueue(jobID, trigger, [&](bool answer) { accepted = answer; });
        EXPECT_TRUE(main.runUntil([&] { return accepted.has_value(); }));
        return accepted.value_or(false);
    }
    // Calls one of the runner's operations that answer with nothing and waits
    // for the answer.
    template <typename Operation>
    void await(Operation operation) {
        bool done = false;
        operation([&] { done = true; });
        EXPECT_TRUE(main.runUntil([&] { return done; }));
    }
    void cancel(const Uuid& jobID) {
        await([&](auto done) { runner->cancel(jobID, done); });
    }
    // Confirms the plan the statuses show for review, as a review sheet
    // does, or `shown`.
    void confirm(const Uuid& jobID, std::shared_ptr<const SyncPlan> shown = nullptr) {
        if (!shown) {
            const auto status = statuses.find(jobID);
            const auto* parked =
                status == statuses.end() ? nullptr : status->second.as<RunStatus::AwaitingConfirmation>();
            shown = parked ? parked->plan : std::make_shared<const SyncPlan>();
        }
        await([&](auto done) { runner->confirm(jobID, shown, done); });
    }
    void decline(const Uuid& jobID) {
        await([&](auto done) { runner->decline(jobID, done); });
    }
    void shutdown() {
        await([&](auto done) { runner->shutdown(done); });
    }
    Result<void> performIfIdle(const Uuid& jobID, std::function<void()> work) {
        std::optional<Result<void>> result;
        runner->performIfIdle(jobID, std::move(work), [&](Result<void> answer) { result = std::move(answer); });
        EXPECT_TRUE(main.runUntil([&] { return result.has_value(); }));
        return result.value_or(Result<void>());
    }
    // Everything posted to the runner so far has been handled, and what it
    // posted back has run.
    void settle() {
        performIfIdle(Uuid::random(), [] {});
    }
    void startPreview(const Uuid& jobID, std::optional<Result<SyncPlan>>& into) {
        runner->preview(jobID, previewer, [&into](Result<SyncPlan> result) { into = std::move(result); });
    }
    Result<SyncPlan> awaitPreview(std::optional<Result<SyncPlan>>& result) {
        if (!main.runUntil([&] { return result.has_value(); })) {
            ADD_FAILURE() << "the preview was never answered";
            return Result<SyncPlan>(std::make_exception_ptr(std::logic_error("no answer")));
        }
        return *result;
    }
    bool waitForRecords(std::size_t count) {
        return main.runUntil([&] { return records.size() >= count; });
    }
    const Uuid a = Uuid::random();
    const Uuid b = Uuid::random();
    const Uuid c = Uuid::random();
    const RunStatus started = RunStatus::running(SyncProgress{});

    ManualClock clock;
    ManualExecutor main{clock};
    FakeExecutor runs;
    FakePreviewer previewer;
    std::unique_ptr<JobRunner> runner = std::make_unique<JobRunner>(runs, main, clock);

    StatusMap statuses;  // the newest map delivered
    std::vector<RunRecord> records;
    Subscription statusSubscription = runner->observeStatuses(main, [this](const StatusMap& map) { statuses = map; });
    Subscription recordSubscription =
        runner->observeCompletions(main, [this](const RunRecord& record) { records.push_back(record); });
};

TEST_F(Runner, RunsJobsFirstInFirstOutOneAtATime) {
    ASSERT_TRUE(enqueue(a));
    ASSERT_TRUE(enqueue(b, RunTrigger::schedule));
    ASSERT_TRUE(enqueue(c, RunTrigger::connect));
    EXPECT_EQ(statuses, (StatusMap{{a, started}, {b, RunStatus::queued()}, {c, RunStatus::queued()}}));

    for (std::size_t index = 0; index < 3; ++index) {
        ASSERT_TRUE(runs.waitForRuns(index + 1));
        settle();
        EXPECT_EQ(runs.runCount(), index + 1);  // the next waits for this one
        runs.end(index, RunOutcome::success());
        ASSERT_TRUE(waitForRecords(index + 1));
    }
    ASSERT_TRUE(main.runUntil([&] { return statuses.empty(); }));
    EXPECT_EQ(runs.maxRunning(), 1);
    EXPECT_EQ(runs.call(0).jobID, a);
    EXPECT_EQ(runs.call(1).jobID, b);
    EXPECT_EQ(runs.call(1).trigger, RunTrigger::schedule);
    EXPECT_EQ(runs.call(2).jobID, c);
    EXPECT_FALSE(runs.call(2).confirmed);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].jobID, a);
    EXPECT_EQ(records[1].jobID, b);
    EXPECT_EQ(records[2].jobID, c);
}

TEST_F(Runner, TheNextJobStaysQueuedUntilTheRecordIsPublished) {
    HoldingExecutor holding;
    auto held = runner->observeCompletions(holding, [](const RunRecord&) {});
    ASSERT_TRUE(enqueue(a));
    ASSERT_TRUE(enqueue(b));
    ASSERT_TRUE(runs.waitForRuns(1));

    runs.end(0, RunOutcome::success());
    ASSERT_TRUE(holding.waitForPost());  // the runner is handing A's record over
    StatusMap seen;
    auto late = runner->observeStatuses(main, [&](const StatusMap& map) { seen = map; });
    main.runPending();
    EXPECT_EQ(seen, (StatusMap{{b, RunStatus::queued()}}));
    EXPECT_EQ(runs.runCount(), 1u);

    holding.release();
    ASSERT_TRUE(runs.waitForRuns(2));
    held.reset();
}

TEST_F(Runner, RefusesABusyJobWhileQueuedRunningParkedOrPreviewed) {
    ASSERT_TRUE(enqueue(a));
    EXPECT_FALSE(enqueue(a));  // running
    ASSERT_TRUE(enqueue(b));
    EXPECT_FALSE(enqueue(b));  // queued
    ASSERT_TRUE(runs.waitForRuns(1));

    runs.end(0, RunOutcome::needsReview("Too many deletions"), planWith(40));
    ASSERT_TRUE(runs.waitForRuns(2));
    settle();
    EXPECT_FALSE(enqueue(a));  // parked

    std::optional<Result<SyncPlan>> preview;
    startPreview(c, preview);
    ASSERT_TRUE(previewer.waitForPreviews(1));
    EXPECT_FALSE(enqueue(c));  // being previewed

    runs.end(1, RunOutcome::success());
    ASSERT_TRUE(waitForRecords(2));
    settle();
    EXPECT_EQ(runs.runCount(), 2u);  // b's second request never made it into the queue
    EXPECT_EQ(statuses, (StatusMap{{a, RunStatus::awaitingConfirmation(planWith(40))}}));
    previewer.answer(0, planWith(0));
    awaitPreview(preview);
}

TEST_F(Runner, ParksARunThatNeedsReviewUntilConfirmedBehindTheOthers) {
    ASSERT_TRUE(enqueue(a, RunTrigger::schedule));
    ASSERT_TRUE(enqueue(b));
    ASSERT_TRUE(enqueue(c));
    ASSERT_TRUE(runs.waitForRuns(1));

    runs.end(0, RunOutcome::needsReview("Review deletions"), planWith(60));
    ASSERT_TRUE(waitForRecords(1));
    EXPECT_EQ(records[0].outcome, RunOutcome::needsReview("Review deletions"));
    ASSERT_TRUE(runs.waitForRuns(2));  // the next job starts meanwhile
    EXPECT_EQ(runs.call(1).jobID, b);
    settle();
    EXPECT_EQ(statuses, (StatusMap{{a, RunStatus::awaitingConfirmation(planWith(60))}, {b, started},
                                   {c, RunStatus::queued()}}));

    confirm(b);  // not parked: nothing happens
    confirm(a);
    EXPECT_EQ(statuses, (StatusMap{{a, RunStatus::queued()}, {b, started}, {c, RunStatus::queued()}}));

    runs.end(1, RunOutcome::success());
    ASSERT_TRUE(runs.waitForRuns(3));
    EXPECT_EQ(runs.call(2).jobID, c);  // confirmed a went to the back
    runs.end(2, RunOutcome::success());
    ASSERT_TRUE(runs.waitForRuns(4));
    const auto confirmed = runs.call(3);
    EXPECT_EQ(confirmed.jobID, a);
    EXPECT_TRUE(confirmed.confirmed);
    EXPECT_EQ(confirmed.trigger, RunTrigger::schedule);
    runs.end(3, RunOutcome::success());
    ASSERT_TRUE(waitForRecords(4));
    ASSERT_TRUE(main.runUntil([&] { return statuses.empty(); }));
    EXPECT_EQ(runs.runCount(), 4u);
}

// Confirming carries the plan the status showed for review; a confirmed run
// parked again carries the newer plan once that is confirmed.
TEST_F(Runner, AConfirmedRunCarriesThePlanShownForReview) {
    ASSERT_TRUE(enqueue(a));
    ASSERT_TRUE(runs.waitForRuns(1));
    EXPECT_FALSE(runs.call(0).reviewed);
    std::size_t index = 0;
    for (const std::int64_t deletions : {60, 80}) {
        runs.end(index, RunOutcome::needsReview("Review deletions"), planWith(deletions));
        ASSERT_TRUE(waitForRecords(index + 1));
        settle();
        EXPECT_EQ(statuses, (StatusMap{{a, RunStatus::awaitingConfirmation(planWith(deletions))}}));
        confirm(a);
        ASSERT_TRUE(runs.waitForRuns(++index + 1));
        EXPECT_EQ(runs.call(index).reviewed, planWith(deletions));
    }
    runs.end(index, RunOutcome::success());
    ASSERT_TRUE(waitForRecords(3));
}

TEST_F(Runner, DecliningOrCancellingAParkedRunDropsItWithoutARecord) {
    std::size_t index = 0;
    for (const Uuid& job : {a, b}) {
        ASSERT_TRUE(enqueue(job));
        ASSERT_TRUE(runs.waitForRuns(index + 1));
        runs.end(index, RunOutcome::needsReview("Review deletions"), planWith(60));
        ASSERT_TRUE(waitForRecords(++index));
    }
    settle();
    EXPECT_EQ(statuses.size(), 2u);

    decline(a);
    cancel(b);
    EXPECT_TRUE(statuses.empty());
    decline(a);  // nothing parked any more
    confirm(b);
    settle();
    EXPECT_TRUE(statuses.empty());
    EXPECT_EQ(records.size(), 2u);
    EXPECT_EQ(runs.runCount(), 2u);
}

TEST_F(Runner, EveryPublishedMapSharesTheParkedPlanInsteadOfCopyingIt) {
    // A plan to review can list every file of a large tree, and the whole map
    // goes out again at each progress report of another job.
    std::vector<StatusMap> seen;
    auto keeping = runner->observeStatuses(main, [&](const StatusMap& map) { seen.push_back(map); });
    ASSERT_TRUE(enqueue(a));
    ASSERT_TRUE(enqueue(b));
    ASSERT_TRUE(runs.waitForRuns(1));
    runs.end(0, RunOutcome::needsReview("Review deletions"), planWith(60));
    ASSERT_TRUE(runs.waitForRuns(2));
    settle();  // the map with the parked plan has been seen
    clock.advance(0.5);
    runs.report(1, progressAt(5));
    settle();

    ASSERT_EQ(seen.back(), (StatusMap{{a, RunStatus::awaitingConfirmation(planWith(60))},
                                      {b, RunStatus::running(progressAt(5))}}));
    const auto parked = [&](const StatusMap& map) { return &parkedPlan(map.at(a)); };
    const auto first = std::find_if(seen.begin(), seen.end(), [&](const StatusMap& map) {
        return map.contains(a) && map.at(a).kind() == RunStatus::Kind::awaitingConfirmation;
    });
    ASSERT_NE(first, seen.end() - 1);
    EXPECT_EQ(parked(*first), parked(seen.back()));
    EXPECT_EQ(parked(statuses), parked(seen.back()));
}

TEST_F(Runner, ARunThatNeedsReviewWithoutAPlanIsNotParked) {
    ASSERT_TRUE(enqueue(a));
    ASSERT_TRUE(runs.waitForRuns(1));
    runs.end(0, RunOutcome::needsReview("rsync asked for review"));
    ASSERT_TRUE(waitForRecords(1));
    settle();
    EXPECT_TRUE(statuses.empty());
    confirm(a);
    EXPECT_EQ(runs.runCount(), 1u);
    EXPECT_TRUE(enqueue(a));
}

TEST_F(Runner, CancellingTheActiveRunWaitsForItsRecord) {
    ASSERT_TRUE(enqueue(a));
    ASSERT_TRUE(enqueue(b));
    ASSERT_TRUE(runs.waitForRuns(1));

    cancel(a);
    EXPECT_TRUE(runs.call(0).stop.stop_requested());
    EXPECT_EQ(statuses, (StatusMap{{a, started}, {b, RunStatus::queued()}}));
    EXPECT_TRUE(records.empty());

    runs.end(0, RunOutcome::cancelled());
    ASSERT_TRUE(waitForRecords(1));
    EXPECT_EQ(records[0].jobID, a);
    EXPECT_EQ(records[0].outcome, RunOutcome::cancelled());
    ASSERT_TRUE(runs.waitForRuns(2));
    settle();
    EXPECT_EQ(statuses, (StatusMap{{b, started}}));
}

TEST_F(Runner, CancellingAQueuedRunDropsItWithoutARecord) {
    ASSERT_TRUE(enqueue(a));
    ASSERT_TRUE(enqueue(b));
    ASSERT_TRUE(enqueue(c));
    ASSERT_TRUE(runs.waitForRuns(1));

    cancel(b);
    EXPECT_EQ(statuses, (StatusMap{{a, started}, {c, RunStatus::queued()}}));
    EXPECT_FALSE(runs.call(0).stop.stop_requested());
    cancel(Uuid::random());  // unknown: the map is published again, unchanged
    EXPECT_EQ(statuses.size(), 2u);

    runs.end(0, RunOutcome::success());
    ASSERT_TRUE(runs.waitForRuns(2));
    EXPECT_EQ(runs.call(1).jobID, c);
    runs.end(1, RunOutcome::success());
    ASSERT_TRUE(waitForRecords(2));
    EXPECT_EQ(records[0].jobID, a);
    EXPECT_EQ(records[1].jobID, c);
}

TEST_F(Runner, ProgressIsThrottledToOneReportInATenthOfASecond) {
    ASSERT_TRUE(enqueue(a));
    ASSERT_TRUE(runs.waitForRuns(1));

    clock.advance(0.05);  // within 0.1 s of the start
    runs.report(0, progressAt(1));
    settle();
    EXPECT_EQ(statuses.at(a), started);

    clock.advance(0.10);  // 0.15 s
    runs.report(0, progressAt(2));
    settle();
    EXPECT_EQ(statuses.at(a), RunStatus::running(progressAt(2)));

    clock.advance(0.05);  // 0.20 s: 0.05 s after the last accepted one
    runs.report(0, progressAt(3));
    settle();
    EXPECT_EQ(statuses.at(a), RunStatus::running(progressAt(2)));

    clock.advance(0.10);  // 0.30 s
    runs.report(0, progressAt(4));
    settle();
    EXPECT_EQ(statuses.at(a), RunStatus::running(progressAt(4)));
}

TEST_F(Runner, NoReportOfAnEarlierAttemptReachesALaterOne) {
    ASSERT_TRUE(enqueue(a));
    ASSERT_TRUE(runs.waitForRuns(1));
    runs.end(0, RunOutcome::needsReview("Review deletions"), planWith(60));
    ASSERT_TRUE(waitForRecords(1));

    confirm(a);
    ASSERT_TRUE(runs.waitForRuns(2));
    clock.advance(0.5);
    runs.report(0, progressAt(7));  // the attempt that asked for review, late
    settle();
    EXPECT_EQ(statuses.at(a), started);
    runs.report(1, progressAt(8));
    settle();
    EXPECT_EQ(statuses.at(a), RunStatus::running(progressAt(8)));

    runs.end(1, RunOutcome::success());
    ASSERT_TRUE(waitForRecords(2));
    ASSERT_TRUE(enqueue(b));
    ASSERT_TRUE(runs.waitForRuns(3));
    clock.advance(0.5);
    runs.report(1, progressAt(9));  // a's ended run: b is untouched
    settle();
    EXPECT_EQ(statuses, (StatusMap{{b, started}}));
}

TEST_F(Runner, NewObserversGetTheCurrentMapButNoPastRecords) {
    std::optional<StatusMap> first;
    auto idle = runner->observeStatuses(main, [&](const StatusMap& map) {
        if (!first) first = map;
    });
    main.runPending();
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->empty());

    ASSERT_TRUE(enqueue(a));
    ASSERT_TRUE(enqueue(b));
    ASSERT_TRUE(runs.waitForRuns(1));
    runs.end(0, RunOutcome::success());
    ASSERT_TRUE(waitForRecords(1));
    ASSERT_TRUE(runs.waitForRuns(2));
    settle();

    std::optional<StatusMap> busy;
    auto later = runner->observeStatuses(main, [&](const StatusMap& map) {
        if (!busy) busy = map;
    });
    std::vector<RunRecord> seen;
    auto completions = runner->observeCompletions(main, [&](const RunRecord& record) { seen.push_back(record); });
    main.runPending();
    ASSERT_TRUE(busy);
    EXPECT_EQ(*busy, (StatusMap{{b, started}}));
    EXPECT_TRUE(seen.empty());

    runs.end(1, RunOutcome::success());
    ASSERT_TRUE(main.runUntil([&] { return !seen.empty(); }));
    EXPECT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].jobID, b);
}

TEST_F(Runner, ShutdownDropsWaitingRunsAndStopsTheActiveOne) {
    ASSERT_TRUE(enqueue(c));
    ASSERT_TRUE(runs.waitForRuns(1));
    runs.end(0, RunOutcome::needsReview("Review deletions"), planWith(60));
    ASSERT_TRUE(waitForRecords(1));
    ASSERT_TRUE(enqueue(a));
    ASSERT_TRUE(enqueue(b));
    ASSERT_TRUE(runs.waitForRuns(2));

    shutdown();
    EXPECT_EQ(statuses, (StatusMap{{a, started}}));
    EXPECT_TRUE(runs.call(1).stop.stop_requested());
    EXPECT_FALSE(enqueue(Uuid::random()));
    EXPECT_FALSE(enqueue(b));
    std::optional<StatusMap> first;
    auto late = runner->observeStatuses(main, [&](const StatusMap& map) {
        if (!first) first = map;
    });
    main.runPending();
    ASSERT_TRUE(first);
    EXPECT_EQ(*first, (StatusMap{{a, started}}));

    runs.end(1, RunOutcome::cancelled());
    ASSERT_TRUE(waitForRecords(2));
    EXPECT_EQ(records[1].jobID, a);
    EXPECT_EQ(records[1].outcome, RunOutcome::cancelled());
    confirm(c);  // its parked run went with the shutdown
    settle();
    EXPECT_TRUE(statuses.empty());
    EXPECT_EQ(runs.runCount(), 2u);
}

TEST_F(Runner, IdleWorkRunsOnTheRunnerOnlyWhileTheJobIsIdle) {
    bool ranOffMain = false;
    EXPECT_TRUE(performIfIdle(a, [&] { ranOffMain = !main.isCurrent(); }).hasValue());
    EXPECT_TRUE(ranOffMain);
    const auto failed = performIfIdle(a, [] { throw PreviewFailure("disk full"); });
    EXPECT_THROW(failed.get(), PreviewFailure);

    ASSERT_TRUE(enqueue(a));  // running
    ASSERT_TRUE(enqueue(b));  // queued
    ASSERT_TRUE(runs.waitForRuns(1));
    std::optional<Result<SyncPlan>> preview;
    startPreview(c, preview);
    ASSERT_TRUE(previewer.waitForPreviews(1));
    int ran = 0;
    for (const Uuid& job : {a, b, c}) expectBusy(performIfIdle(job, [&] { ++ran; }).error());

    runs.end(0, RunOutcome::needsReview("Review deletions"), planWith(60));
    ASSERT_TRUE(waitForRecords(1));
    expectBusy(performIfIdle(a, [&] { ++ran; }).error());  // parked
    EXPECT_EQ(ran, 0);
    previewer.answer(0, planWith(0));
    awaitPreview(preview);
    EXPECT_TRUE(performIfIdle(c, [&] { ++ran; }).hasValue());
    EXPECT_EQ(ran, 1);
}

TEST_F(Runner, PreviewsNeverOverlapWorkOfTheSameJob) {
    ASSERT_TRUE(enqueue(a));  // running
    ASSERT_TRUE(enqueue(b));  // queued
    for (const Uuid& job : {a, b}) {
        std::optional<Result<SyncPlan>> refused;
        startPreview(job, refused);
        expectBusy(awaitPreview(refused).error());
    }

    std::optional<Result<SyncPlan>> first;
    std::optional<Result<SyncPlan>> second;
    startPreview(c, first);
    ASSERT_TRUE(previewer.waitForPreviews(1));
    startPreview(c, second);
    expectBusy(awaitPreview(second).error());

    const auto failure = std::make_exception_ptr(PreviewFailure("The disk is not connected."));
    previewer.fail(0, failure);
    const auto failed = awaitPreview(first);
    EXPECT_EQ(failed.error(), failure);  // the very error the previewer threw
    EXPECT_THROW(failed.get(), PreviewFailure);

    std::optional<Result<SyncPlan>> again;
    startPreview(c, again);
    ASSERT_TRUE(previewer.waitForPreviews(2));
    previewer.answer(1, planWith(3));
    EXPECT_EQ(awaitPreview(again).get(), planWith(3));
    EXPECT_TRUE(enqueue(c));

    ASSERT_TRUE(runs.waitForRuns(1));
    runs.end(0, RunOutcome::needsReview("Review deletions"), planWith(60));
    ASSERT_TRUE(waitForRecords(1));
    std::optional<Result<SyncPlan>> parked;
    startPreview(a, parked);
    expectBusy(awaitPreview(parked).error());
}

TEST_F(Runner, DestructionStopsTheRunAndPreviewsAndWaitsForThem) {
    ASSERT_TRUE(enqueue(a));
    ASSERT_TRUE(runs.waitForRuns(1));
    std::optional<Result<SyncPlan>> preview;
    startPreview(b, preview);
    ASSERT_TRUE(previewer.waitForPreviews(1));

    runs.endRunsWhenStopped();
    runner.reset();
    const auto run = runs.call(0);
    EXPECT_TRUE(run.returned);
    EXPECT_TRUE(run.stop.stop_requested());
    runs.report(0, progressAt(1));  // after the runner has gone: dropped

    main.runPending();  // what the stopped work handed back before the runner went
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].outcome, RunOutcome::cancelled());
    ASSERT_TRUE(preview);
    EXPECT_THROW(preview->get(), CancellationError);
    statusSubscription.reset();
    recordSubscription.reset();
}

// A run executor that breaks its promise never to throw.
class ThrowingExecutor final : public RunExecuting {
public:
    RunResult run(const Uuid& jobID, RunTrigger, const SyncPlan*, const ProgressCallback&, std::stop_token) override {
        if (jobID == broken) throw std::runtime_error("disk exploded");
        return RunResult{record(jobID, RunTrigger::manual, RunOutcome::success()), {}};
    }
    Uuid broken;
};

TEST(JobRunnerThrowingRun, ARunThatThrowsEndsFailedAndTheNextOneStillRuns) {
    ManualClock clock;
    ManualExecutor main{clock};
    ThrowingExecutor runs;
    runs.broken = Uuid::random();
    const Uuid next = Uuid::random();
    std::vector<RunRecord> records;
    JobRunner::StatusMap statuses;
    JobRunner runner(runs, main, clock);
    auto recordsSeen = runner.observeCompletions(main, [&](const RunRecord& record) { records.push_back(record); });
    auto statusesSeen = runner.observeStatuses(main, [&](const JobRunner::StatusMap& map) { statuses = map; });

    runner.enqueue(runs.broken, RunTrigger::schedule);
    runner.enqueue(next, RunTrigger::manual);
    ASSERT_TRUE(main.runUntil([&] { return records.size() == 2 && statuses.empty(); }));
    EXPECT_EQ(records[0].jobID, runs.broken);
    EXPECT_EQ(records[0].trigger, RunTrigger::schedule);
    EXPECT_EQ(records[0].outcome, RunOutcome::failed("disk exploded"));
    EXPECT_EQ(records[1].jobID, next);
    EXPECT_EQ(records[1].outcome, RunOutcome::success());
}

}  // namespace
}  // namespace kelto
