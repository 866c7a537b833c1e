#pragma once

#include "SyncAutomation/Async/Executor.h"
#include "SyncAutomation/Async/NewestValue.h"
#include "SyncAutomation/Async/ObserverList.h"
#include "SyncAutomation/Async/Result.h"
#include "SyncAutomation/Async/SerialQueue.h"
#include "SyncAutomation/Async/Subscription.h"
#include "SyncAutomation/Async/WorkerPool.h"
#include "SyncAutomation/RunExecuting.h"
#include "SyncAutomation/RunPreviewing.h"
#include "SyncAutomation/RunRequesting.h"
#include "SyncAutomation/RunStatus.h"
#include "SyncEngine/SyncPlan.h"
#include "SyncModel/RunRecord.h"
#include "SyncModel/Support/Clock.h"
#include "SyncModel/Support/Uuid.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stop_token>

namespace kelto {

// The single gate every run of every job passes through. Run requests wait
// in one first-in, first-out queue and are carried out one at a time; a run
// that stops because its plan needs review is parked until the user confirms
// or declines it. A job that is queued, running, parked or being previewed is
// busy: no second request, preview or idle-only work is accepted for it.
//
// All state lives on a serial queue the runner owns. Every operation posts
// there and returns at once; its answer, when a callback is given, is posted
// to the reply executor. A run's blocking work runs on a thread of its own and
// previews on a small pool, so the runner keeps answering meanwhile. A run
// executor that throws after all ends that run failed with the error's text.
//
// Lifetime: the run executor, the reply executor, the clock and every
// previewer handed to preview() must outlive the runner. Destroying the
// runner stops the active run and the previews in flight and waits until
// they have returned; their results are still handled (records published,
// answers posted) before the destructor returns. The progress callback handed
// to the run executor stays safe to call after that: late reports are
// dropped. Subscriptions may outlive the runner. The runner must not be
// destroyed by work running on its own queue (a performIfIdle closure), and a
// run or preview that ignores its stop request keeps the destructor waiting.
class JobRunner final : public RunRequesting {
public:
    using StatusMap = std::map<Uuid, RunStatus>;
    using StatusCallback = std::function<void(const StatusMap&)>;

    // Progress reports closer together than this are dropped.
    static constexpr double progressInterval = 0.1;

    JobRunner(RunExecuting& executor, Executor& replies, const Clock& clock = SystemClock::shared());
    ~JobRunner() override;
    JobRunner(const JobRunner&) = delete;
    JobRunner& operator=(const JobRunner&) = delete;

    // Queues a run; `done` gets false when the runner is shutting down or the
    // job is busy, and nothing changes then.
    void enqueue(const Uuid& jobID, RunTrigger trigger, std::function<void(bool)> done = {}) override;
    // Stops the job's active run (its record still comes), or drops its
    // queued or parked request without a record.
    void cancel(const Uuid& jobID, std::function<void()> done = {});
    // Queues a parked run again, behind the others, as confirmed and with the
    // trigger it had. It carries `shown`, the plan the user was shown and
    // confirmed, whichever plan is parked now: a newer one that the user
    // never saw takes nothing beyond `shown` unreviewed, the run stops for a
    // new review instead. Without a parked run or a plan, nothing happens.
    void confirm(const Uuid& jobID, std::shared_ptr<const SyncPlan> shown, std::function<void()> done = {});
    // Drops a parked run without a record.
    void decline(const Uuid& jobID, std::function<void()> done = {});
    // Plans the job with `previewer` off the runner's queue; JobRunnerError
    // (jobBusy) when the job is busy, else the previewer's plan or its error
    // unchanged.
    void preview(const Uuid& jobID, RunPreviewing& previewer, std::function<void(Result<SyncPlan>)> done);
    // Runs `work` on the runner's queue, so that no run, request or preview
    // interleaves with it, when the job is idle; JobRunnerError (jobBusy) and
    // `work` not run when it is busy; an error `work` throws passes through.
    void performIfIdle(const Uuid& jobID, std::function<void()> work, std::function<void(Result<void>)> done = {});
    // No further runs are accepted; queued and parked runs are dropped without
    // a record; the active run is stopped and still publishes its record.
    void shutdown(std::function<void()> done = {});

    // The whole status map after every change; a new observer first gets the
    // current map (empty when nothing is busy), and a slow one only the newest.
    Subscription observeStatuses(Executor& executor, StatusCallback callback);
    // Every finished run's record, parked runs' included; nothing at first.
    Subscription observeCompletions(Executor& executor, RecordCallback callback) override;

private:
    struct Request {
        Uuid jobID;
        RunTrigger trigger = RunTrigger::manual;
        // Set while parked: the plan the status shows for review. Once
        // confirmed: the plan the user confirmed, which the run carries.
        std::shared_ptr<const SyncPlan> shown;
        bool confirmed = false;
    };
    struct Inbox;

    void startNext();
    void progressReported(std::uint64_t attempt, const SyncProgress& progress);
    void finish(std::uint64_t attempt, const RunResult& result);
    void publish();
    bool isBusy(const Uuid& jobID) const;

    RunExecuting& executor_;
    Executor& replies_;
    const Clock& clock_;

    // Touched only on the runner's queue.
    std::deque<Request> queue_;
    std::optional<Request> active_;
    // Counts starts. A confirmed run is a new attempt of the same request, so
    // a report is matched to the attempt that made it, not to the request.
    std::uint64_t attempt_ = 0;
    std::optional<std::stop_source> task_;  // stops the active run
    std::map<Uuid, Request> parked_;
    StatusMap state_;
    std::map<Uuid, std::stop_source> previews_;
    std::optional<double> lastProgressAt_;  // seconds since boot
    bool terminating_ = false;
    bool closing_ = false;  // being destroyed: nothing new starts

    NewestValue<StatusMap> statuses_;
    ObserverList<RunRecord> completions_;

    // Torn down in this order by the destructor: run thread and preview pool
    // first (they post to the queue), then the inbox, then the queue.
    std::unique_ptr<SerialQueue> queueThread_;
    std::shared_ptr<Inbox> inbox_;
    std::unique_ptr<SerialQueue> runThread_;
    std::unique_ptr<WorkerPool> previewThreads_;
};

}  // namespace kelto
