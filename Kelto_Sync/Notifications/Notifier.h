#pragma once

#include "Kelto_Sync/Notifications/NotificationCenter.h"
#include "Kelto_Sync/SyncStrings.h"
#include "SyncAutomation/Async/Result.h"
#include "SyncModel/RunRecord.h"
#include "SyncModel/SyncJob.h"

#include <QSettings>
#include <QString>

#include <functional>
#include <string>

namespace kelto {

// The application's four notifications and the permission request, read
// through the settings the settings window writes. Every post is gated by
// "notifications.enabled": only a stored false silences them. Ask prompts
// carry their "Sync now" and "Skip" buttons themselves, so they have them
// whether or not the permission was ever requested in this process.
class Notifier {
public:
    static inline const QString enabledKey = QStringLiteral("notifications.enabled");
    static inline const QString successKey = QStringLiteral("notifications.success");
    static inline const QString askCategory = QStringLiteral("SYNC_ASK");
    static inline const QString syncNowAction = QStringLiteral("SYNC_NOW");
    static inline const QString skipAction = QStringLiteral("SKIP");

    // The master switch as stored: absent or anything but a stored false
    // means on.
    static bool isEnabled(const QSettings& settings);

    Notifier(NotificationCenter& center, QSettings& settings, SyncStrings strings = SyncStrings::application());

    // Answers on the GUI thread: granted, or the centre's error.
    void requestAuthorization(std::function<void(Result<bool>)> done);

    // failed, completedWithErrors and interrupted runs.
    void notifyProblem(const RunRecord& record, const std::string& jobName);
    // Only when "notifications.success" is true.
    void notifySuccess(const RunRecord& record, const std::string& jobName);
    // Replaces an earlier review notice of the same job.
    void notifyReviewNeeded(const Uuid& jobID, const std::string& jobName, const std::string& detail);
    // Replaces an earlier ask prompt of the same job.
    void askToSync(const SyncJob& job);

private:
    bool enabled() const;
    QString text(const char* english) const;
    void post(NotificationRequest request);

    NotificationCenter& center_;
    QSettings& settings_;
    SyncStrings strings_;
};

}  // namespace kelto
