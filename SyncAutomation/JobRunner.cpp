#include "SyncAutomation/JobRunner.h"

#include "SyncAutomation/JobRunnerError.h"
#include "SyncAutomation/RunMessages.h"

#include <exception>
#include <future>
#include <mutex>
#include <type_traits>
#include <utility>

namespace kelto {

// How the threads the runner does not own (and its own run thread and
// preview pool) reach the runner's queue. Closed once nothing but late
// progress reports can arrive, so those find it closed instead of a queue
// that is gone.
struct JobRunner::Inbox {
    explicit Inbox(SerialQueue& queue) : queue(&queue) {}

    void post(Executor::Work work) {
        std::lock_guard lock(mutex);
        if (queue) queue->post(std::move(work));
    }
    void close() {
        std::lock_guard lock(mutex);
        queue = nullptr;
    }

    std::mutex mutex;
    SerialQueue* queue;
};

namespace {

template <typename... Args>
void answer(Executor& replies, const std::function<void(Args...)>& done, std::decay_t<Args>... values) {
    if (!done) return;
    replies.post([done, ... values = std::move(values)]() mutable { done(std::move(values)...); });
}

std::exception_ptr busy() { return std::make_exception_ptr(JobRunnerError(JobRunnerError::Code::jobBusy)); }

// The record of a run whose executor threw instead of returning one.
RunRecord failedRun(const Uuid& jobID, RunTrigger trigger, Date startedAt, Date endedAt,
                    const std::exception_ptr& error, const std::stop_token& stop) {
    RunRecord record;
    record.id = Uuid::random();
    record.jobID = jobID;
    record.trigger = trigger;
    record.startedAt = startedAt;
    record.endedAt = endedAt;
    record.outcome = RunMessages::errorOutcome(error, stop.stop_requested());
    return record;
}

}  // namespace

JobRunner::JobRunner(RunExecuting& executor, Executor& replies, const Clock& clock)
    : executor_(executor),
      replies_(replies),
      clock_(clock),
      queueThread_(std::make_unique<SerialQueue>()),
      inbox_(std::make_shared<Inbox>(*queueThread_)),
      runThread_(std::make_unique<SerialQueue>()),
      previewThreads_(std::make_unique<WorkerPool>(2)) {}

JobRunner::~JobRunner() {
    // Once this has run on the queue, nothing posts to the run thread or the
    // preview pool any more, so they can go.
    auto closed = std::make_shared<std::promise<void>>();
    auto done = closed->get_future();
    queueThread_->post([this, closed] {
        closing_ = true;
        if (task_) task_->request_stop();
        for (auto& [jobID, stop] : previews_) stop.request_stop();
        closed->set_value();
    });
    done.wait();
    runThread_.reset();
    previewThreads_.reset();
    inbox_->close();
    queueThread_.reset();  // handles the finish and previews just queued, then joins
}

void JobRunner::enqueue(const Uuid& jobID, RunTrigger trigger, std::function<void(bool)> done) {
    queueThread_->post([this, jobID, trigger, done = std::move(done)] {
        const bool accepted = !terminating_ && !isBusy(jobID);
        if (accepted) {
            queue_.push_back(Request{jobID, trigger, nullptr, false});
            state_.insert_or_assign(jobID, RunStatus::queued());
            publish();
            startNext();
        }
        answer(replies_, done, accepted);
    });
}

void JobRunner::cancel(const Uuid& jobID, std::function<void()> done) {
    queueThread_->post([this, jobID, done = std::move(done)] {
        if (active_ && active_->jobID == jobID) {
            // The run ends through finish() as usual, with its record.
            if (task_) task_->request_stop();
        } else {
            std::erase_if(queue_, [&](const Request& request) { return request.jobID == jobID; });
            parked_.erase(jobID);
            state_.erase(jobID);
            publish();
        }
        answer(replies_, done);
    });
}

void JobRunner::confirm(const Uuid& jobID, std::shared_ptr<const SyncPlan> shown, std::function<void()> done) {
    queueThread_->post([this, jobID, shown = std::move(shown), done = std::move(done)] {
        if (!shown) {
            answer(replies_, done);
            return;
        }
        if (auto parked = parked_.extract(jobID)) {
            Request request = std::move(parked.mapped());
            // The parked plan may be newer than the sheet the user answered:
            // only what the user saw is confirmed.
            request.shown = shown;
            request.confirmed = true;
            queue_.push_back(std::move(request));
            state_.insert_or_assign(jobID, RunStatus::queued());
            publish();
            startNext();
        }
        answer(replies_, done);
    });
}

void JobRunner::decline(const Uuid& jobID, std::function<void()> done) {
    queueThread_->post([this, jobID, done = std::move(done)] {
        if (parked_.erase(jobID) > 0) {
            state_.erase(jobID);
            publish();
        }
        answer(replies_, done);
    });
}

void JobRunner::preview(const Uuid& jobID, RunPreviewing& previewer, std::function<void(Result<SyncPlan>)> done) {
    queueThread_->post([this, jobID, &previewer, done = std::move(done)] {
        if (isBusy(jobID)) {
            answer(replies_, done, Result<SyncPlan>(busy()));
            return;
        }
        std::stop_source stop;
        previews_.emplace(jobID, stop);
        previewThreads_->post([this, jobID, &previewer, token = stop.get_token(), done, inbox = inbox_] {
            auto result = Result<SyncPlan>::capture([&] { return previewer.preview(jobID, token); });
            inbox->post([this, jobID, result = std::move(result), done] {
                previews_.erase(jobID);
                answer(replies_, done, result);
            });
        });
    });
}

void JobRunner::performIfIdle(const Uuid& jobID, std::function<void()> work, std::function<void(Result<void>)> done) {
    queueThread_->post([this, jobID, work = std::move(work), done = std::move(done)] {
        if (isBusy(jobID)) {
            answer(replies_, done, Result<void>(busy()));
            return;
        }
        answer(replies_, done, Result<void>::capture(work));
    });
}

void JobRunner::shutdown(std::function<void()> done) {
    queueThread_->post([this, done = std::move(done)] {
        terminating_ = true;
        queue_.clear();
        parked_.clear();
        StatusMap kept;
        if (active_) {
            if (auto status = state_.find(active_->jobID); status != state_.end()) kept.insert(*status);
        }
        state_ = std::move(kept);
        if (task_) task_->request_stop();
        publish();
        answer(replies_, done);
    });
}

Subscription JobRunner::observeStatuses(Executor& executor, StatusCallback callback) {
    return statuses_.observe(executor, std::move(callback));
}

Subscription JobRunner::observeCompletions(Executor& executor, RecordCallback callback) {
    return completions_.add(executor, std::move(callback));
}

void JobRunner::startNext() {
    if (closing_ || active_ || queue_.empty()) return;
    active_ = std::move(queue_.front());
    queue_.pop_front();
    const std::uint64_t attempt = ++attempt_;
    lastProgressAt_ = clock_.secondsSinceBoot();
    state_.insert_or_assign(active_->jobID, RunStatus::running(SyncProgress{}));
    publish();

    task_.emplace();
    runThread_->post([this, request = *active_, attempt, stop = task_->get_token(), inbox = inbox_] {
        // The executor may keep this and call it from any thread, even after
        // the runner has gone: it holds nothing but the inbox.
        const RunExecuting::ProgressCallback progress = [this, attempt, inbox](const SyncProgress& report) {
            inbox->post([this, attempt, report] { progressReported(attempt, report); });
        };
        const Date startedAt = clock_.now();
        RunResult result;
        try {
            const SyncPlan* reviewed = request.confirmed ? request.shown.get() : nullptr;
            result = executor_.run(request.jobID, request.trigger, reviewed, progress, stop);
        } catch (...) {
            // Escaping this thread would end the program; the gate keeps
            // working and the run ends failed instead.
            const std::exception_ptr error = std::current_exception();
            result = RunResult{failedRun(request.jobID, request.trigger, startedAt, clock_.now(), error, stop), {}};
        }
        inbox->post([this, attempt, result = std::move(result)] { finish(attempt, result); });
    });
}

void JobRunner::progressReported(std::uint64_t attempt, const SyncProgress& progress) {
    if (!active_ || attempt != attempt_) return;
    // Measured here rather than where the report was made: reports arrive
    // one post each and not necessarily in order.
    const double now = clock_.secondsSinceBoot();
    if (lastProgressAt_ && now - *lastProgressAt_ < progressInterval) return;
    lastProgressAt_ = now;
    state_.insert_or_assign(active_->jobID, RunStatus::running(progress));
    publish();
}

void JobRunner::finish(std::uint64_t attempt, const RunResult& result) {
    if (!active_ || attempt != attempt_) return;
    Request request = std::move(*active_);
    active_.reset();
    task_.reset();
    if (result.record.outcome.kind == RunOutcome::Case::needsReview && result.review) {
        // What confirming carries is what the status shows for review.
        RunStatus status = RunStatus::awaitingConfirmation(*result.review);
        request.shown = status.as<RunStatus::AwaitingConfirmation>()->plan;
        state_.insert_or_assign(request.jobID, std::move(status));
        parked_.insert_or_assign(request.jobID, std::move(request));
    } else {
        state_.erase(request.jobID);
    }
    publish();
    completions_.publish(result.record);
    startNext();
}

void JobRunner::publish() { statuses_.set(state_); }

bool JobRunner::isBusy(const Uuid& jobID) const { return state_.contains(jobID) || previews_.contains(jobID); }

}  // namespace kelto
