#pragma once

#include "SyncAutomation/AppModelError.h"
#include "SyncAutomation/AppModelInterface.h"
#include "SyncAutomation/Async/MainExecutor.h"
#include "SyncAutomation/Async/ObservedValue.h"
#include "SyncAutomation/Async/WorkerPool.h"
#include "SyncAutomation/JobRunner.h"
#include "SyncAutomation/JobRunnerError.h"
#include "SyncAutomation/JobScheduling.h"
#include "SyncAutomation/SyncCoordinator.h"
#include "SyncModel/JobStore.h"
#include "SyncModel/RunHistoryStore.h"
#include "SyncModel/Support/Clock.h"

#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace kelto {

// The one model every window reads the jobs, the live statuses and the
// latest records from, and asks for every change through. It lives on the
// main executor: its state is read and written only there, and every answer
// comes back there.
//
// The jobs file is the single truth about jobs: each change is applied to a
// fresh read of the file inside the runner's performIfIdle, so changes never
// overlap each other or a run of the job, and the list is read again
// afterwards.
class AppModel final : public AppModelInterface {
public:
    struct Services {
        MainExecutor& main;
        const JobStore& store;
        RunHistoryStore& history;
        // Built with `main` as the executor it answers on.
        JobRunner& runner;
        JobScheduling& scheduler;
        // Previews, archive roots and pruning need it; without one they
        // answer jobNotFound.
        SyncCoordinator* coordinator = nullptr;
        const Clock& clock = SystemClock::shared();
        // Where what a saved change leaves behind is noted (a file that
        // could not be removed); standard error when empty. Called on the
        // runner's queue.
        std::function<void(const std::string&)> log = {};
    };

    // Loads the jobs and each job's newest record; a failure leaves what was
    // loaded before it and becomes errorMessage. Then follows the runner's
    // statuses and finished runs. Call on the main executor. The services
    // must outlive the model and any change it handed the runner.
    explicit AppModel(Services services);
    // Answers still on their way are dropped.
    ~AppModel() override = default;
    AppModel(const AppModel&) = delete;
    AppModel& operator=(const AppModel&) = delete;

    const std::vector<SyncJob>& jobs() const override { return jobs_.get(); }
    const StatusMap& statuses() const override { return statuses_.get(); }
    const RecordMap& lastRecords() const override { return lastRecords_.get(); }
    const std::optional<std::string>& errorMessage() const override { return errorMessage_.get(); }
    const RunFinished& onRunFinished() const override { return onRunFinished_.get(); }
    const std::optional<RunRecord>& manualSkip() const override { return manualSkip_.get(); }
    const std::optional<Uuid>& requestedJobID() const override { return requestedJobID_.get(); }

    void setErrorMessage(std::optional<std::string> message) override;
    void setOnRunFinished(RunFinished callback) override;
    void setManualSkip(std::optional<RunRecord> record) override;
    void setRequestedJobID(std::optional<Uuid> jobID) override;

    Subscription observe(Property property, std::function<void()> changed) override;

    void validate(const SyncJob& job, std::function<void(ValidationReport)> done) override;
    // A new copy job on two folders, named "<source> → <destination>"; not stored.
    void makeJob(const std::filesystem::path& source, const std::filesystem::path& destination,
                 std::function<void(Result<SyncJob>)> done);
    void addJob(const SyncJob& job, std::function<void(Result<void>)> done) override;
    void updateJob(const SyncJob& job, std::function<void(Result<void>)> done) override;
    void deleteJob(const Uuid& jobID, std::function<void(Result<void>)> done) override;

    void runNow(const Uuid& jobID) override;
    void runAll() override;
    void cancel(const Uuid& jobID) override;
    void confirm(const Uuid& jobID, std::shared_ptr<const SyncPlan> shown) override;
    void decline(const Uuid& jobID) override;
    void preview(const Uuid& jobID, std::function<void(Result<SyncPlan>)> done) override;
    void shutdown(std::function<void()> done) override;

    void archiveRoots(const Uuid& jobID, std::function<void(Result<Roots>)> done) override;
    void pruneArchives(const Uuid& jobID, std::function<void(Result<void>)> done) override;
    std::optional<Date> nextFireDate(const Uuid& jobID) const override;
    std::vector<RunRecord> history(const Uuid& jobID) const override;

private:
    // Changes the freshly read list on the runner's queue; true when the
    // job's baseline must go because its folders are no longer the same.
    using Edit = std::function<bool(std::vector<SyncJob>&)>;
    // The answer of a change, and whether the jobs file was written.
    using Committed = std::function<void(Result<void>, bool saved)>;

    void load();
    void runFinished(const RunRecord& record);
    void validated(const SyncJob& job, std::function<void(Result<void>)> next);
    using Log = std::function<void(const std::string&)>;

    // Under the job's run lock and the jobs file's lock: edits and saves the
    // list; then drops what the change leaves stale, the baseline and, for a
    // job no longer listed, the lock file, logging what cannot go.
    void commit(const Uuid& jobID, Edit edit, Committed done);
    // A job's baseline files around a change of its folders: moved aside
    // (the suffixes moved; a missing file is no error, the first other
    // failure stops it and is thrown), put back after a failed save, removed
    // after a good one (each file that stays is logged).
    static std::vector<std::string> setBaselineAside(const Uuid& jobID, const std::filesystem::path& folder);
    static void putBaselineBack(const Uuid& jobID, const std::filesystem::path& folder,
                                const std::vector<std::string>& moved) noexcept;
    static void deleteBaseline(const Uuid& jobID, const std::filesystem::path& folder, const Log& log);
    bool isListed(const Uuid& jobID) const;

    // The runner's refusal of a busy job as the model's own jobBusy; any
    // other result unchanged.
    template <typename T>
    static Result<T> busyAsModelError(Result<T> result) {
        if (const std::exception_ptr error = result.error()) {
            try {
                std::rethrow_exception(error);
            } catch (const JobRunnerError&) {
                return Result<T>(std::make_exception_ptr(AppModelError::jobBusy()));
            } catch (...) {
            }
        }
        return result;
    }

    MainExecutor& main_;
    const JobStore& store_;
    RunHistoryStore& history_;
    JobRunner& runner_;
    JobScheduling& scheduler_;
    SyncCoordinator* const coordinator_;
    const Clock& clock_;
    const Log log_;

    ObservedValue<std::vector<SyncJob>> jobs_;
    ObservedValue<StatusMap> statuses_;
    ObservedValue<RecordMap> lastRecords_;
    ObservedValue<std::optional<std::string>> errorMessage_;
    ObservedValue<RunFinished> onRunFinished_;
    ObservedValue<std::optional<RunRecord>> manualSkip_;
    ObservedValue<std::optional<Uuid>> requestedJobID_;

    // Answers arriving after the model has gone find this expired.
    std::shared_ptr<const bool> alive_ = std::make_shared<const bool>(true);
    // Status observations of shutdowns still waiting for the active run.
    std::map<std::uint64_t, Subscription> shutdownWaits_;
    std::uint64_t nextWait_ = 0;
    // The status observation, then the completion observation.
    std::vector<Subscription> observations_;
    // Validation and root look-ups, off the main executor. Last: joined
    // first, while everything it may touch still exists.
    std::unique_ptr<WorkerPool> background_;
};

}  // namespace kelto
