#include "tests/views/support/FakeAppModel.h"

#include <stdexcept>

namespace kelto {

void FakeAppModel::setJobs(std::vector<SyncJob> jobs) {
    jobs_ = std::move(jobs);
    notify(Property::jobs);
}

void FakeAppModel::setStatus(const Uuid& jobID, std::optional<RunStatus> status) {
    if (status) {
        statuses_[jobID] = std::move(*status);
    } else {
        statuses_.erase(jobID);
    }
    notify(Property::statuses);
}

void FakeAppModel::setLastRecord(const RunRecord& record) {
    lastRecords_[record.jobID] = record;
    notify(Property::lastRecords);
}

void FakeAppModel::answerRoots(Result<Roots> roots) {
    if (pendingRoots.empty()) throw std::logic_error("no archive roots request waits");
    auto done = std::move(pendingRoots.front());
    pendingRoots.pop_front();
    done(std::move(roots));
}

void FakeAppModel::answerPrune(Result<void> result) {
    if (pendingPrunes.empty()) throw std::logic_error("no pruning request waits");
    auto done = std::move(pendingPrunes.front());
    pendingPrunes.pop_front();
    done(std::move(result));
}

void FakeAppModel::setErrorMessage(std::optional<std::string> message) {
    errorMessage_ = std::move(message);
    notify(Property::errorMessage);
}

void FakeAppModel::setManualSkip(std::optional<RunRecord> record) {
    manualSkip_ = std::move(record);
    notify(Property::manualSkip);
}

void FakeAppModel::setRequestedJobID(std::optional<Uuid> jobID) {
    requestedJobID_ = jobID;
    notify(Property::requestedJobID);
}

Subscription FakeAppModel::observe(Property property, std::function<void()> changed) {
    const int key = nextObserver_++;
    observers_[key] = {property, std::move(changed)};
    return Subscription([this, key] { observers_.erase(key); });
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
    for (const auto& [key, entry] : observers) {
        if (entry.first == property && observers_.count(key) != 0) entry.second();
    }
}

}  // namespace kelto
