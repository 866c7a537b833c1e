#pragma once

#include "Kelto_Sync/Notifications/NotificationCenter.h"
#include "Kelto_Sync/SyncStrings.h"
#include "SyncAutomation/AppModelInterface.h"
#include "SyncAutomation/Async/Result.h"
#include "SyncAutomation/Async/Subscription.h"
#include "SyncModel/RunRecord.h"
#include "SyncModel/SyncJob.h"

#include <QSettings>
#include <QString>

#include <functional>
#include <map>
#include <string>

namespace kelto {

// The application's four notifications and the permission request, read
// through the settings the settings window writes. Every post is gated by
// "notifications.enabled": only a stored false silences them. Ask prompts
// carry their "Sync now" and "Skip" buttons themselves, so they have them
// whether or not the permission was ever requested in this process.
//
// A notification stays only while its subject does: following the model,
// the notifier withdraws every notice of a job that is no longer listed, a
// review once the job's run is no longer parked for it (answered from the
// sheet or the notification, dropped, ended otherwise) or the job is paused,
// and an ask once the job runs or is paused. Questions go when the application quits
// (withdrawQuestions): nobody is left to answer them.
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
    // The model's observers hold it.
    Notifier(const Notifier&) = delete;
    Notifier& operator=(const Notifier&) = delete;

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

    // Settles the notices against this model from now on and at once; null
    // stops. The model must outlive the following.
    void follow(AppModelInterface* model);
    // Withdraws the reviews and asks still shown.
    void withdrawQuestions();
    // Withdraws the job's ask prompt, if shown: its device went away.
    void withdrawAsk(const Uuid& jobID);

private:
    enum class Subject { report, review, ask };
    struct Posted {
        Subject subject;
        Uuid jobID;
        // A review counts as answered only once its run was seen parked.
        bool parked = false;
    };

    bool enabled() const;
    QString text(const char* english) const;
    void post(NotificationRequest request, Subject subject, const Uuid& jobID);
    void settle();
    void withdraw(const QString& identifier);

    NotificationCenter& center_;
    QSettings& settings_;
    SyncStrings strings_;
    std::map<QString, Posted> posted_;  // by request identifier
    AppModelInterface* model_ = nullptr;
    Subscription jobs_;
    Subscription statuses_;
};

}  // namespace kelto
