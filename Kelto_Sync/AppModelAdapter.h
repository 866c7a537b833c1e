#pragma once

// A Qt header first: moc's parser stumbles over <concepts> when it is
// reached before any Qt header.
#include <QObject>
#include <QPointer>

#include "SyncAutomation/AppModelInterface.h"

#include <exception>
#include <functional>
#include <optional>
#include <vector>

namespace kelto {

// The windows' one view of the application model: its reads, its requests,
// a change signal per observed property, and answers that always arrive
// later on the GUI thread, and only while their receiver lives.
class AppModelAdapter : public QObject {
    Q_OBJECT

public:
    using Roots = AppModelInterface::Roots;

    explicit AppModelAdapter(AppModelInterface& model, QObject* parent = nullptr);

    AppModelInterface& model() const { return *model_; }

    const std::vector<SyncJob>& jobs() const { return model_->jobs(); }
    const AppModelInterface::StatusMap& statuses() const { return model_->statuses(); }
    const AppModelInterface::RecordMap& lastRecords() const { return model_->lastRecords(); }
    const std::optional<std::string>& errorMessage() const { return model_->errorMessage(); }
    const std::optional<RunRecord>& manualSkip() const { return model_->manualSkip(); }
    const std::optional<Uuid>& requestedJobID() const { return model_->requestedJobID(); }

    // The first listed job with this identifier, or null.
    const SyncJob* job(const Uuid& jobID) const;
    const RunStatus* status(const Uuid& jobID) const;
    const RunRecord* lastRecord(const Uuid& jobID) const;
    // The id of the job's newest record: what views key their reloads by.
    std::optional<Uuid> lastRecordID(const Uuid& jobID) const;
    // An error's text as the views show it.
    static QString describe(const std::exception_ptr& error);

    std::optional<Date> nextFireDate(const Uuid& jobID) const { return model_->nextFireDate(jobID); }
    // Newest first; throws the history store's errors.
    std::vector<RunRecord> history(const Uuid& jobID) const { return model_->history(jobID); }

    void setErrorMessage(std::optional<std::string> message) { model_->setErrorMessage(std::move(message)); }
    void setManualSkip(std::optional<RunRecord> record) { model_->setManualSkip(std::move(record)); }
    void setRequestedJobID(std::optional<Uuid> jobID) { model_->setRequestedJobID(jobID); }

    void runNow(const Uuid& jobID) { model_->runNow(jobID); }
    void runAll() { model_->runAll(); }
    void cancel(const Uuid& jobID) { model_->cancel(jobID); }
    // `shown`: the plan of the review sheet the user answered.
    void confirm(const Uuid& jobID, std::shared_ptr<const SyncPlan> shown) { model_->confirm(jobID, std::move(shown)); }
    void decline(const Uuid& jobID) { model_->decline(jobID); }

    // `done` runs on the GUI thread from the event loop, never inside the
    // call, and not at all once `receiver` is gone.
    void archiveRoots(const Uuid& jobID, QObject* receiver, std::function<void(Result<Roots>)> done);
    void pruneArchives(const Uuid& jobID, QObject* receiver, std::function<void(Result<void>)> done);
    void validate(const SyncJob& job, QObject* receiver, std::function<void(ValidationReport)> done);
    void addJob(const SyncJob& job, QObject* receiver, std::function<void(Result<void>)> done);
    void updateJob(const SyncJob& job, QObject* receiver, std::function<void(Result<void>)> done);
    void deleteJob(const Uuid& jobID, QObject* receiver, std::function<void(Result<void>)> done);
    void preview(const Uuid& jobID, QObject* receiver, std::function<void(Result<SyncPlan>)> done);

signals:
    void jobsChanged();
    void statusesChanged();
    void lastRecordsChanged();
    void errorMessageChanged();
    void manualSkipChanged();
    void requestedJobIDChanged();
    // Any job's nextFireDate may have changed.
    void nextFireDatesChanged();

private:
    template <typename Answer>
    static std::function<void(Answer)> later(QObject* receiver, std::function<void(Answer)> done);

    AppModelInterface* model_;
    std::vector<Subscription> subscriptions_;
};

}  // namespace kelto
