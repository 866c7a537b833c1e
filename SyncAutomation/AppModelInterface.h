#pragma once

#include "SyncAutomation/Async/Result.h"
#include "SyncAutomation/Async/Subscription.h"
#include "SyncAutomation/RunStatus.h"
#include "SyncEngine/SyncPlan.h"
#include "SyncModel/RunRecord.h"
#include "SyncModel/SyncJob.h"
#include "SyncModel/ValidationReport.h"
#include "SyncModel/Support/Date.h"
#include "SyncModel/Support/Uuid.h"

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kelto {

// What the windows, menus and the application read of the jobs and runs and
// ask for, so that they can be tested against a fake. Everything is called on
// the main executor; asynchronous answers come back there, errors inside the
// Result.
class AppModelInterface {
public:
    using StatusMap = std::map<Uuid, RunStatus>;
    using RecordMap = std::map<Uuid, RunRecord>;
    using RunFinished = std::function<void(const RunRecord&)>;
    using Roots = std::vector<std::filesystem::path>;

    // The observed properties.
    // nextFireDates: any job's nextFireDate may have changed.
    enum class Property {
        jobs,
        statuses,
        lastRecords,
        errorMessage,
        onRunFinished,
        manualSkip,
        requestedJobID,
        nextFireDates
    };

    virtual ~AppModelInterface() = default;

    // The jobs as last read from the jobs file, in file order.
    virtual const std::vector<SyncJob>& jobs() const = 0;
    // The runner's latest status map.
    virtual const StatusMap& statuses() const = 0;
    // The newest known record of each job.
    virtual const RecordMap& lastRecords() const = 0;
    // Why loading failed at start-up; windows clear it once shown.
    virtual const std::optional<std::string>& errorMessage() const = 0;
    // Called after each finished run of a listed job.
    virtual const RunFinished& onRunFinished() const = 0;
    // The latest manual run that ended skipped; windows clear it once shown.
    virtual const std::optional<RunRecord>& manualSkip() const = 0;
    // The job a window is asked to show.
    virtual const std::optional<Uuid>& requestedJobID() const = 0;

    virtual void setErrorMessage(std::optional<std::string> message) = 0;
    virtual void setOnRunFinished(RunFinished callback) = 0;
    virtual void setManualSkip(std::optional<RunRecord> record) = 0;
    virtual void setRequestedJobID(std::optional<Uuid> jobID) = 0;

    // Calls `changed` synchronously after each change of the property, until
    // the subscription ends. A property assigned an equal value stays silent;
    // onRunFinished and each change of one key of lastRecords always notify.
    virtual Subscription observe(Property property, std::function<void()> changed) = 0;

    // The validator's findings; never fails.
    virtual void validate(const SyncJob& job, std::function<void(ValidationReport)> done) = 0;
    // AppModelError (invalidJob, jobBusy) or the store's errors unchanged.
    virtual void addJob(const SyncJob& job, std::function<void(Result<void>)> done) = 0;
    // AppModelError (invalidJob, jobNotFound, jobBusy) or the store's errors.
    // A job is busy too while a run of it holds its lock in another process.
    virtual void updateJob(const SyncJob& job, std::function<void(Result<void>)> done) = 0;
    // AppModelError (jobBusy, as for updateJob) or the store's errors.
    virtual void deleteJob(const Uuid& jobID, std::function<void(Result<void>)> done) = 0;

    // A manual run of a listed job, enabled or not; a busy job is silently
    // not queued again.
    virtual void runNow(const Uuid& jobID) = 0;
    // A manual run of every enabled job, in list order.
    virtual void runAll() = 0;
    virtual void cancel(const Uuid& jobID) = 0;
    // Continues a run parked for review, taking no more than `shown`, the
    // plan the user was shown for it (see JobRunner::confirm).
    virtual void confirm(const Uuid& jobID, std::shared_ptr<const SyncPlan> shown) = 0;
    // Drops a run parked for review.
    virtual void decline(const Uuid& jobID) = 0;
    // The plan of a run; AppModelError (jobNotFound, jobBusy) or the
    // coordinator's errors unchanged.
    virtual void preview(const Uuid& jobID, std::function<void(Result<SyncPlan>)> done) = 0;
    // Stops the runner and answers once no job is running.
    virtual void shutdown(std::function<void()> done) = 0;

    // The mounted folders holding the job's archives; AppModelError
    // (jobNotFound) or the coordinator's errors unchanged.
    virtual void archiveRoots(const Uuid& jobID, std::function<void(Result<Roots>)> done) = 0;
    // Removes every archived run of the job on each available root;
    // AppModelError (jobNotFound), JobRunnerError (jobBusy, also while a run
    // of the job holds its lock in another process), or the first pruning
    // error.
    virtual void pruneArchives(const Uuid& jobID, std::function<void(Result<void>)> done) = 0;
    // When the scheduler will next run the job by its timed triggers.
    virtual std::optional<Date> nextFireDate(const Uuid& jobID) const = 0;
    // The job's records, newest first; throws the history store's errors.
    virtual std::vector<RunRecord> history(const Uuid& jobID) const = 0;

protected:
    AppModelInterface() = default;
    AppModelInterface(const AppModelInterface&) = default;
    AppModelInterface& operator=(const AppModelInterface&) = default;
};

}  // namespace kelto
