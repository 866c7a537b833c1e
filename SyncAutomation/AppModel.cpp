#include "SyncAutomation/AppModel.h"

#include <algorithm>
#include <cstdio>
#include <exception>

namespace kelto {

AppModel::AppModel(Services services)
    : main_(services.main),
      store_(services.store),
      history_(services.history),
      runner_(services.runner),
      scheduler_(services.scheduler),
      coordinator_(services.coordinator),
      clock_(services.clock),
      log_(services.log ? std::move(services.log)
                        : [](const std::string& line) { std::fprintf(stderr, "kelto-sync: %s\n", line.c_str()); }),
      background_(std::make_unique<WorkerPool>(2)) {
    load();
    // Started whether or not loading failed: runs go on either way.
    observations_.push_back(
        runner_.observeStatuses(main_, [this](const StatusMap& statuses) { statuses_.setIfChanged(statuses); }));
    observations_.push_back(
        runner_.observeCompletions(main_, [this](const RunRecord& record) { runFinished(record); }));
}

void AppModel::load() {
    RecordMap newest;
    try {
        jobs_.setIfChanged(store_.load());
        for (const SyncJob& job : jobs_.get()) {
            std::vector<RunRecord> records = history_.records(job.id);
            if (!records.empty()) newest.insert_or_assign(job.id, std::move(records.front()));
        }
    } catch (const std::exception& error) {
        // What loaded before the failure stays.
        errorMessage_.setIfChanged(std::string(error.what()));
    }
    lastRecords_.setIfChanged(std::move(newest));
}

void AppModel::runFinished(const RunRecord& record) {
    // A job deleted while it ran gets no record, no notice and no callback.
    if (!isListed(record.jobID)) return;
    lastRecords_.modify([&](RecordMap& records) { records.insert_or_assign(record.jobID, record); });
    if (record.trigger == RunTrigger::manual && record.outcome.kind == RunOutcome::Case::skipped)
        manualSkip_.setIfChanged(record);
    // A copy: the callback may replace itself.
    if (const RunFinished callback = onRunFinished_.get()) callback(record);
}

void AppModel::setErrorMessage(std::optional<std::string> message) { errorMessage_.setIfChanged(std::move(message)); }

void AppModel::setOnRunFinished(RunFinished callback) { onRunFinished_.set(std::move(callback)); }

void AppModel::setManualSkip(std::optional<RunRecord> record) { manualSkip_.setIfChanged(std::move(record)); }

void AppModel::setRequestedJobID(std::optional<Uuid> jobID) { requestedJobID_.setIfChanged(jobID); }

Subscription AppModel::observe(Property property, std::function<void()> changed) {
    switch (property) {
        case Property::jobs: return jobs_.observe(std::move(changed));
        case Property::statuses: return statuses_.observe(std::move(changed));
        case Property::lastRecords: return lastRecords_.observe(std::move(changed));
        case Property::errorMessage: return errorMessage_.observe(std::move(changed));
        case Property::onRunFinished: return onRunFinished_.observe(std::move(changed));
        case Property::manualSkip: return manualSkip_.observe(std::move(changed));
        case Property::requestedJobID: return requestedJobID_.observe(std::move(changed));
        case Property::nextFireDates: return scheduler_.observePendingFires(std::move(changed));
    }
    return {};
}

std::optional<Date> AppModel::nextFireDate(const Uuid& jobID) const { return scheduler_.pendingFire(jobID); }

std::vector<RunRecord> AppModel::history(const Uuid& jobID) const { return history_.records(jobID); }

bool AppModel::isListed(const Uuid& jobID) const {
    const auto& jobs = jobs_.get();
    return std::any_of(jobs.begin(), jobs.end(), [&](const SyncJob& job) { return job.id == jobID; });
}

}  // namespace kelto
