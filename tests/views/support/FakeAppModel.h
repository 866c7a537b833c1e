#pragma once

#include "SyncAutomation/AppModelInterface.h"
#include <deque>
#include <functional>
#include <map>

namespace kelto {

// An application model for window tests: properties set directly notify their observers; requests are counted;
// asynchronous requests wait in queues until the test answers them, in the order it chooses.
class FakeAppModel : public AppModelInterface {
public:
    void setJobs(std::vector<SyncJob> jobs);
    void setStatus(const Uuid& jobID, std::optional<RunStatus> status);
    void setLastRecord(const RunRecord& record);
    // What history(jobID) answers, or the exception it throws.
    std::function<std::vector<RunRecord>(const Uuid&)> historySource;
    std::map<Uuid, Date> fireDates;
    // Changes one date of `fireDates` and tells the observers, as the scheduler's notice does.
    void setFireDate(const Uuid& jobID, std::optional<Date> date);
    std::vector<Uuid> runNowCalls, cancelCalls, confirmCalls, declineCalls;
    std::vector<std::shared_ptr<const SyncPlan>> confirmedPlans;  // one for each confirm call
    int runAllCalls = 0;
    mutable int historyCalls = 0;
    // Requests waiting for an answer, oldest first.
    std::deque<std::function<void(Result<Roots>)>> pendingRoots;
    std::deque<std::function<void(Result<void>)>> pendingPrunes;
    std::deque<std::pair<SyncJob, std::function<void(ValidationReport)>>> pendingValidations;
    std::deque<std::pair<SyncJob, std::function<void(Result<void>)>>> pendingAdds;
    std::deque<std::pair<SyncJob, std::function<void(Result<void>)>>> pendingUpdates;
    std::deque<std::pair<Uuid, std::function<void(Result<void>)>>> pendingDeletes;
    std::deque<std::pair<Uuid, std::function<void(Result<SyncPlan>)>>> pendingPreviews;
    std::deque<std::function<void()>> pendingShutdowns;
    // Answers the oldest waiting request.
    void answerRoots(Result<Roots> roots);
    void answerPrune(Result<void> result = {});
    void answerValidation(ValidationReport report = {});
    void answerAdd(Result<void> result = {});
    // A successful update also replaces the stored job, as the model does.
    void answerUpdate(Result<void> result = {});
    // A successful delete also removes the job.
    void answerDelete(Result<void> result = {});
    void answerPreview(Result<SyncPlan> plan);
    void answerShutdown();
    const std::vector<SyncJob>& jobs() const override { return jobs_; }
    const StatusMap& statuses() const override { return statuses_; }
    const RecordMap& lastRecords() const override { return lastRecords_; }
    const std::optional<std::string>& errorMessage() const override { return errorMessage_; }
    const RunFinished& onRunFinished() const override { return onRunFinished_; }
    const std::optional<RunRecord>& manualSkip() const override { return manualSkip_; }
    const std::optional<Uuid>& requestedJobID() const override { return requestedJobID_; }
    void setErrorMessage(std::optional<std::string> message) override;
    void setOnRunFinished(RunFinished callback) override { onRunFinished_ = std::move(callback); }
    void setManualSkip(std::optional<RunRecord> record) override;
    void setRequestedJobID(std::optional<Uuid> jobID) override;
    Subscription observe(Property property, std::function<void()> changed) override;
    void validate(const SyncJob& job, std::function<void(ValidationReport)> done) override;
    void addJob(const SyncJob& job, std::function<void(Result<void>)> done) override;
    void updateJob(const SyncJob& job, std::function<void(Result<void>)> done) override;
    void deleteJob(const Uuid& jobID, std::function<void(Result<void>)> done) override;
    void runNow(const Uuid& jobID) override { runNowCalls.push_back(jobID); }
    void runAll() override { ++runAllCalls; }
    void cancel(const Uuid& jobID) override { cancelCalls.push_back(jobID); }
    void confirm(const Uuid& jobID, std::shared_ptr<const SyncPlan> shown) override {
        confirmCalls.push_back(jobID);
        confirmedPlans.push_back(std::move(shown));
    }
    void decline(const Uuid& jobID) override { declineCalls.push_back(jobID); }
    void preview(const Uuid& jobID, std::function<void(Result<SyncPlan>)> done) override;
    void shutdown(std::function<void()> done) override;
    void archiveRoots(const Uuid&, std::function<void(Result<Roots>)> done) override {
        pendingRoots.push_back(std::move(done));
    }
    void pruneArchives(const Uuid&, std::function<void(Result<void>)> done) override {
        pendingPrunes.push_back(std::move(done));
    }
    std::optional<Date> nextFireDate(const Uuid& jobID) const override;
    std::vector<RunRecord> history(const Uuid& jobID) const override;

private:
    void notify(Property property);
    std::vector<SyncJob> jobs_;
    StatusMap statuses_;
    RecordMap lastRecords_;
    std::optional<std::string> errorMessage_;
    RunFinished onRunFinished_;
    std::optional<RunRecord> manualSkip_;
    std::optional<Uuid> requestedJobID_;
    int nextObserver_ = 0;
    std::map<int, std::pair<Property, std::function<void()>>> observers_;
};

}  // namespace kelto
