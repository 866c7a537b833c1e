#include "Kelto_Sync/Notifications/Notifier.h"

#include "Kelto_Sync/RunOutcomeDisplay.h"

#include <QLocale>

#include <map>
#include <vector>

namespace kelto {
namespace {

QString qt(const std::string& text) {
    return QString::fromStdString(text);
}

QString uuidText(const Uuid& id) {
    return QString::fromStdString(id.string());
}

// A native INI file keeps a Boolean as the words Qt writes for it, and
// hands them back as text.
std::optional<bool> storedBoolean(const QVariant& value) {
    if (value.typeId() == QMetaType::Bool) return value.toBool();
    if (value.typeId() == QMetaType::QString) {
        const QString text = value.toString();
        if (text == QLatin1String("true")) return true;
        if (text == QLatin1String("false")) return false;
    }
    return std::nullopt;
}

}  // namespace

Notifier::Notifier(NotificationCenter& center, QSettings& settings, SyncStrings strings)
    : center_(center), settings_(settings), strings_(strings) {}

void Notifier::requestAuthorization(std::function<void(Result<bool>)> done) {
    center_.requestAuthorization([done = std::move(done)](bool granted, std::exception_ptr error) {
        if (error) {
            done(Result<bool>(error));
        } else {
            done(Result<bool>(granted));
        }
    });
}

void Notifier::notifyProblem(const RunRecord& record, const std::string& jobName) {
    QString body = qt(jobName);
    if (record.outcome.kind == RunOutcome::Case::failed) body += u'\n' + qt(record.outcome.message);
    const std::vector<std::string> errors = RunOutcomeDisplay::errorsBesideMessage(record.outcome, record.stats);
    if (!errors.empty()) body += u'\n' + qt(errors.back());
    const bool withErrors = record.outcome.kind == RunOutcome::Case::completedWithErrors;
    post({uuidText(record.id), text(withErrors ? "Completed with errors" : "Sync failed"), body, {},
          uuidText(record.jobID), {}},
         Subject::report, record.jobID);
}

void Notifier::notifySuccess(const RunRecord& record, const std::string& jobName) {
    // Unlike the master switch, anything but a stored true keeps this off.
    if (!settings_.value(successKey, false).toBool()) return;
    post({uuidText(record.id), text("Sync completed"), qt(jobName), {}, uuidText(record.jobID), {}}, Subject::report,
         record.jobID);
}

void Notifier::notifyReviewNeeded(const Uuid& jobID, const std::string& jobName, const std::string& detail) {
    post({QStringLiteral("review-") + uuidText(jobID), text("Review needed"), qt(jobName) + u'\n' + qt(detail), {},
          uuidText(jobID), {}},
         Subject::review, jobID);
}

void Notifier::askToSync(const SyncJob& job) {
    post({QStringLiteral("ask-") + uuidText(job.id),
          text("Sync connected device?"),
          qt(job.name),
          askCategory,
          uuidText(job.id),
          {{syncNowAction, text("Sync now")}, {skipAction, text("Skip")}}},
         Subject::ask, job.id);
}

bool Notifier::enabled() const { return isEnabled(settings_); }

bool Notifier::isEnabled(const QSettings& settings) {
    if (!settings.contains(enabledKey)) return true;
    return storedBoolean(settings.value(enabledKey)).value_or(true);
}

QString Notifier::text(const char* english) const {
    return strings_.text(QString::fromUtf8(english), QLocale());
}

void Notifier::post(NotificationRequest request, Subject subject, const Uuid& jobID) {
    if (!enabled()) return;
    posted_.insert_or_assign(request.identifier, Posted{subject, jobID});
    center_.add(request);
    settle();
}

void Notifier::follow(AppModelInterface* model) {
    jobs_.reset();
    statuses_.reset();
    model_ = model;
    if (model_ == nullptr) return;
    jobs_ = model_->observe(AppModelInterface::Property::jobs, [this] { settle(); });
    statuses_ = model_->observe(AppModelInterface::Property::statuses, [this] { settle(); });
    settle();
}

void Notifier::settle() {
    if (model_ == nullptr) return;
    // Called on every progress tick: the jobs are looked up once.
    std::map<Uuid, bool> enabled;
    for (const SyncJob& job : model_->jobs()) enabled.try_emplace(job.id, job.isEnabled);
    std::vector<QString> settled;
    for (auto& [identifier, posted] : posted_) {
        const auto job = enabled.find(posted.jobID);
        const auto status = model_->statuses().find(posted.jobID);
        const bool busy = status != model_->statuses().end();
        const bool parked = busy && status->second.kind() == RunStatus::Kind::awaitingConfirmation;
        bool gone = job == enabled.end();
        switch (posted.subject) {
        case Subject::report:
            break;
        case Subject::review:
            gone = gone || !job->second || (posted.parked && !parked);
            posted.parked = parked;
            break;
        case Subject::ask:
            gone = gone || !job->second || busy;
            break;
        }
        if (gone) settled.push_back(identifier);
    }
    for (const QString& identifier : settled) withdraw(identifier);
}

void Notifier::withdrawQuestions() {
    std::vector<QString> questions;
    for (const auto& [identifier, posted] : posted_) {
        if (posted.subject != Subject::report) questions.push_back(identifier);
    }
    for (const QString& identifier : questions) withdraw(identifier);
}

void Notifier::withdrawAsk(const Uuid& jobID) {
    const QString identifier = QStringLiteral("ask-") + uuidText(jobID);
    if (posted_.contains(identifier)) withdraw(identifier);
}

void Notifier::withdraw(const QString& identifier) {
    posted_.erase(identifier);
    center_.remove(identifier);
}

}  // namespace kelto
