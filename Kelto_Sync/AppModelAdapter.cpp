#include "Kelto_Sync/AppModelAdapter.h"

#include <QMetaObject>

#include <memory>

namespace kelto {

AppModelAdapter::AppModelAdapter(AppModelInterface& model, QObject* parent) : QObject(parent), model_(&model) {
    using P = AppModelInterface::Property;
    const std::pair<P, void (AppModelAdapter::*)()> signalOf[] = {
        {P::jobs, &AppModelAdapter::jobsChanged},
        {P::statuses, &AppModelAdapter::statusesChanged},
        {P::lastRecords, &AppModelAdapter::lastRecordsChanged},
        {P::errorMessage, &AppModelAdapter::errorMessageChanged},
        {P::manualSkip, &AppModelAdapter::manualSkipChanged},
        {P::requestedJobID, &AppModelAdapter::requestedJobIDChanged},
        {P::nextFireDates, &AppModelAdapter::nextFireDatesChanged},
    };
    for (const auto& [property, signal] : signalOf) {
        subscriptions_.push_back(model_->observe(property, [this, signal = signal] { emit(this->*signal)(); }));
    }
}

const SyncJob* AppModelAdapter::job(const Uuid& jobID) const {
    for (const SyncJob& job : model_->jobs()) {
        if (job.id == jobID) return &job;
    }
    return nullptr;
}

const RunStatus* AppModelAdapter::status(const Uuid& jobID) const {
    const auto found = model_->statuses().find(jobID);
    return found != model_->statuses().end() ? &found->second : nullptr;
}

const RunRecord* AppModelAdapter::lastRecord(const Uuid& jobID) const {
    const auto found = model_->lastRecords().find(jobID);
    return found != model_->lastRecords().end() ? &found->second : nullptr;
}

template <typename Answer>
std::function<void(Answer)> AppModelAdapter::later(QObject* receiver, std::function<void(Answer)> done) {
    // Queued through the receiver, so the answer never lands inside the
    // call and is dropped with the receiver.
    QPointer<QObject> target(receiver);
    return [target, done = std::move(done)](Answer result) {
        if (target.isNull()) return;
        auto shared = std::make_shared<Answer>(std::move(result));
        QMetaObject::invokeMethod(
            target.data(), [done, shared] { done(std::move(*shared)); }, Qt::QueuedConnection);
    };
}

void AppModelAdapter::archiveRoots(const Uuid& jobID, QObject* receiver, std::function<void(Result<Roots>)> done) {
    model_->archiveRoots(jobID, later(receiver, std::move(done)));
}

void AppModelAdapter::pruneArchives(const Uuid& jobID, QObject* receiver, std::function<void(Result<void>)> done) {
    model_->pruneArchives(jobID, later(receiver, std::move(done)));
}

void AppModelAdapter::validate(const SyncJob& job, QObject* receiver, std::function<void(ValidationReport)> done) {
    model_->validate(job, later(receiver, std::move(done)));
}

void AppModelAdapter::addJob(const SyncJob& job, QObject* receiver, std::function<void(Result<void>)> done) {
    model_->addJob(job, later(receiver, std::move(done)));
}

void AppModelAdapter::updateJob(const SyncJob& job, QObject* receiver, std::function<void(Result<void>)> done) {
    model_->updateJob(job, later(receiver, std::move(done)));
}

void AppModelAdapter::deleteJob(const Uuid& jobID, QObject* receiver, std::function<void(Result<void>)> done) {
    model_->deleteJob(jobID, later(receiver, std::move(done)));
}

void AppModelAdapter::preview(const Uuid& jobID, QObject* receiver, std::function<void(Result<SyncPlan>)> done) {
    model_->preview(jobID, later(receiver, std::move(done)));
}

std::optional<Uuid> AppModelAdapter::lastRecordID(const Uuid& jobID) const {
    const RunRecord* record = lastRecord(jobID);
    return record != nullptr ? std::optional<Uuid>(record->id) : std::nullopt;
}

QString AppModelAdapter::describe(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("Unknown error");
    }
}

}  // namespace kelto
