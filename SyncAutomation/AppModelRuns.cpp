#include "SyncAutomation/AppModel.h"

#include "SyncAutomation/JobLock.h"
#include "SyncEngine/ArchivePruner.h"

#include <algorithm>

namespace kelto {

namespace fs = std::filesystem;

namespace {

// Answers on the main executor after the call has returned, and only while
// the model exists.
template <typename T>
void answerLater(MainExecutor& main, std::weak_ptr<const bool> alive, std::function<void(Result<T>)> done,
                 Result<T> result) {
    main.post([alive = std::move(alive), done = std::move(done), result = std::move(result)]() mutable {
        if (!alive.expired() && done) done(std::move(result));
    });
}

std::exception_ptr notFound() { return std::make_exception_ptr(AppModelError::jobNotFound()); }

}  // namespace

void AppModel::runNow(const Uuid& jobID) {
    // isEnabled governs automatic runs only; a busy job is refused silently.
    if (isListed(jobID)) runner_.enqueue(jobID, RunTrigger::manual);
}

void AppModel::runAll() {
    // The runner keeps the order of the requests.
    for (const SyncJob& job : jobs_.get())
        if (job.isEnabled) runner_.enqueue(job.id, RunTrigger::manual);
}

void AppModel::cancel(const Uuid& jobID) { runner_.cancel(jobID); }

void AppModel::confirm(const Uuid& jobID, std::shared_ptr<const SyncPlan> shown) {
    runner_.confirm(jobID, std::move(shown));
}

void AppModel::decline(const Uuid& jobID) { runner_.decline(jobID); }

void AppModel::preview(const Uuid& jobID, std::function<void(Result<SyncPlan>)> done) {
    if (!coordinator_ || !isListed(jobID)) {
        answerLater(main_, alive_, std::move(done), Result<SyncPlan>(notFound()));
        return;
    }
    runner_.preview(jobID, *coordinator_,
                    [alive = std::weak_ptr<const bool>(alive_), done = std::move(done)](Result<SyncPlan> result) {
                        if (!alive.expired() && done) done(busyAsModelError(std::move(result)));
                    });
}

void AppModel::shutdown(std::function<void()> done) {
    runner_.shutdown([this, alive = std::weak_ptr<const bool>(alive_), done = std::move(done)] {
        if (alive.expired()) return;
        // The runner has stopped its active run; wait until a map shows it
        // ended. Queued and parked entries do not hold the shutdown back.
        const std::uint64_t wait = nextWait_++;
        shutdownWaits_.emplace(wait, runner_.observeStatuses(main_, [this, wait, done](const StatusMap& statuses) {
            const bool running = std::any_of(statuses.begin(), statuses.end(), [](const auto& entry) {
                return entry.second.kind() == RunStatus::Kind::running;
            });
            if (running) return;
            shutdownWaits_.erase(wait);  // no later map reaches this observer
            if (done) done();
        }));
    });
}

void AppModel::archiveRoots(const Uuid& jobID, std::function<void(Result<Roots>)> done) {
    if (!coordinator_) {
        answerLater(main_, alive_, std::move(done), Result<Roots>(notFound()));
        return;
    }
    // The look-up reads the mount table and may wait on a slow disk.
    background_->post([coordinator = coordinator_, jobID, &main = main_, alive = std::weak_ptr<const bool>(alive_),
                       done = std::move(done)] {
        answerLater(main, alive, done, Result<Roots>::capture([&] { return coordinator->availableRoots(jobID); }));
    });
}

void AppModel::pruneArchives(const Uuid& jobID, std::function<void(Result<void>)> done) {
    if (!coordinator_) {
        answerLater(main_, alive_, std::move(done), Result<void>(notFound()));
        return;
    }
    // On the runner's queue, so no run or preview of the job reads the
    // archives meanwhile. Its refusal of a busy job reaches the caller as it is.
    auto prune = [coordinator = coordinator_, jobID, &clock = clock_] {
        const std::vector<fs::path> roots = coordinator->availableRoots(jobID);
        // A run of the job in another process may be moving replaced files
        // into an archive folder of this moment: that folder would go too.
        const std::optional<JobLock> lock = JobLock::tryTake(coordinator->lockFile(jobID));
        if (!lock) throw JobRunnerError(JobRunnerError::Code::jobBusy);
        for (const fs::path& root : roots)
            // No days kept: everything archived before this moment goes,
            // whatever the job's own retention.
            ArchivePruner::prune(root, jobID, 0, clock.now());
    };
    auto answered = [alive = std::weak_ptr<const bool>(alive_), done = std::move(done)](Result<void> result) {
        if (!alive.expired() && done) done(std::move(result));
    };
    runner_.performIfIdle(jobID, std::move(prune), std::move(answered));
}

}  // namespace kelto
