#include "Kelto_Sync/Notifications/Notifier.h"

#include "Kelto_Sync/RunOutcomeDisplay.h"

#include <QLocale>

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
          uuidText(record.jobID), {}});
}

void Notifier::notifySuccess(const RunRecord& record, const std::string& jobName) {
    // Unlike the master switch, anything but a stored true keeps this off.
    if (!settings_.value(successKey, false).toBool()) return;
    post({uuidText(record.id), text("Sync completed"), qt(jobName), {}, uuidText(record.jobID), {}});
}

void Notifier::notifyReviewNeeded(const Uuid& jobID, const std::string& jobName, const std::string& detail) {
    post({QStringLiteral("review-") + uuidText(jobID), text("Review needed"), qt(jobName) + u'\n' + qt(detail), {},
          uuidText(jobID), {}});
}

void Notifier::askToSync(const SyncJob& job) {
    post({QStringLiteral("ask-") + uuidText(job.id),
          text("Sync connected device?"),
          qt(job.name),
          askCategory,
          uuidText(job.id),
          {{syncNowAction, text("Sync now")}, {skipAction, text("Skip")}}});
}

bool Notifier::enabled() const { return isEnabled(settings_); }

bool Notifier::isEnabled(const QSettings& settings) {
    if (!settings.contains(enabledKey)) return true;
    return storedBoolean(settings.value(enabledKey)).value_or(true);
}

QString Notifier::text(const char* english) const {
    return strings_.text(QString::fromUtf8(english), QLocale());
}

void Notifier::post(NotificationRequest request) {
    if (!enabled()) return;
    center_.add(request);
}

}  // namespace kelto
