#include "tests/views/support/FakeAppModel.h"
#include <algorithm>
#include <stdexcept>

namespace kelto {

void FakeAppModel::setJobs(std::vector<SyncJob> jobs) { jobs_ = std::move(jobs), notify(Property::jobs); }

void FakeAppModel::setStatus(const Uuid& jobID, std::optional<RunStatus> status) {
    status ? void(statuses_[jobID] = std::move(*status)) : void(statuses_.erase(jobID));
    notify(Property::statuses);
}

void FakeAppModel::setLastRecord(const RunRecord& record) {
    lastRecords_[record.jobID] = record;
    notify(Property::lastRecords);
}

namespace {

template <typename Queue>
auto takeOldest(Queue& queue, const char* what) {
    if (queue.empty()) throw std::logic_error(std::string("no ") + what + " request waits");
    auto oldest = std::move(queue.front());
    queue.pop_front();
    return oldest;
}

}  // namespace

void FakeAppModel::answerRoots(Result<Roots> roots) { takeOldest(pendingRoots, "archive roots")(std::move(roots)); }
void FakeAppModel::answerPrune(Result<void> result) { takeOldest(pendingPrunes, "pruning")(std::move(result)); }

void FakeAppModel::validate(const SyncJob& job, std::function<void(ValidationReport)> done) {
    pendingValidations.emplace_back(job, std::move(done));
}
void FakeAppModel::addJob(const SyncJob& job, std::function<void(Result<void>)> done) {
    pendingAdds.emplace_back(job, std::move(done));
}
void FakeAppModel::updateJob(const SyncJob& job, std::function<void(Result<void>)> done) {
    pendingUpdates.emplace_back(job, std::move(done));
}
void FakeAppModel::deleteJob(const Uuid& jobID, std::function<void(Result<void>)> done) {
    pendingDeletes.emplace_back(jobID, std::move(done));
}
void FakeAppModel::preview(const Uuid& jobID, std::function<void(Result<SyncPlan>)> done) {
    pendingPreviews.emplace_back(jobID, std::move(done));
}
void FakeAppModel::shutdown(std::function<void()> done) { pendingShutdowns.push_back(std::move(done)); }

void FakeAppModel::answerValidation(ValidationReport report) {
    takeOldest(pendingValidations, "validation").second(std::move(report));
}

void FakeAppModel::answerAdd(Result<void> result) {
    auto [job, done] = takeOldest(pendingAdds, "add");
    if (result.hasValue()) jobs_.push_back(job), notify(Property::jobs);
    done(std::move(result));
}

void FakeAppModel::answerUpdate(Result<void> result) {
    auto [job, done] = takeOldest(pendingUpdates, "update");
    if (result.hasValue()) {
        std::replace_if(jobs_.begin(), jobs_.end(), [&](const SyncJob& stored) { return stored.id == job.id; }, job);
        notify(Property::jobs);
    }
    done(std::move(result));
}

void FakeAppModel::answerDelete(Result<void> result) {
    auto [jobID, done] = takeOldest(pendingDeletes, "delete");
    if (result.hasValue()) {
        std::erase_if(jobs_, [&](const SyncJob& job) { return job.id == jobID; });
        notify(Property::jobs);
    }
    done(std::move(result));
}

void FakeAppModel::answerPreview(Result<SyncPlan> plan) { takeOldest(pendingPreviews, "preview").second(std::move(plan)); }
void FakeAppModel::answerShutdown() { takeOldest(pendingShutdowns, "shutdown")(); }

void FakeAppModel::setErrorMessage(std::optional<std::string> message) {
    errorMessage_ = std::move(message), notify(Property::errorMessage);
}
void FakeAppModel::setManualSkip(std::optional<RunRecord> record) {
    manualSkip_ = std::move(record), notify(Property::manualSkip);
}
void FakeAppModel::setRequestedJobID(std::optional<Uuid> jobID) {
    requestedJobID_ = jobID, notify(Property::requestedJobID);
}

Subscription FakeAppModel::observe(Property property, std::function<void()> changed) {
    const int key = nextObserver_++;
    observers_[key] = {property, std::move(changed)};
    return Subscription([this, key] { observers_.erase(key); });
}

void FakeAppModel::setFireDate(const Uuid& jobID, std::optional<Date> date) {
    date ? void(fireDates.insert_or_assign(jobID, *date)) : void(fireDates.erase(jobID));
    notify(Property::nextFireDates);
}

std::optional<Date> FakeAppModel::nextFireDate(const Uuid& jobID) const {
    const auto found = fireDates.find(jobID);
    return found != fireDates.end() ? std::optional<Date>(found->second) : std::nullopt;
}

std::vector<RunRecord> FakeAppModel::history(const Uuid& jobID) const {
    ++historyCalls;
    return historySource ? historySource(jobID) : std::vector<RunRecord>{};
}

void FakeAppModel::notify(Property property) {
    // Observers may end their subscriptions while being told.
    const auto observers = observers_;
    for (const auto& [key, entry] : observers)
        if (entry.first == property && observers_.count(key) != 0) entry.second();
}

}  // namespace kelto
