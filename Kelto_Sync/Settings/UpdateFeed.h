#pragma once

#include "Kelto_Sync/Settings/UpdateCheckResult.h"

#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>

class QNetworkAccessManager;
class QTimer;

namespace kelto {

class Clock;

// The update layer: a small JSON file at the feed URL,
// {"version": "1.5", "build": "60", "url": "https://…"}, compared with the
// running build. Without a feed URL a check says so and never claims the
// build is current. Automatic checks (off unless the user turned them on)
// run at most daily once started, and say nothing unless an update exists.
class UpdateFeed : public QObject {
    Q_OBJECT

public:
    static constexpr double checkInterval = 24 * 60 * 60;
    // How often a started feed looks whether a daily check is due.
    static constexpr int wakeMilliseconds = 60 * 60 * 1000;

    // `present` shows a result; by default an UpdateWindow.
    using Present = std::function<void(const UpdateCheckResult&)>;

    UpdateFeed(QString feedURL, QString version, QString build, const Clock& clock, QObject* parent = nullptr);
    ~UpdateFeed() override;

    // Stored in QSettings under "updates.automatic".
    virtual bool automaticallyChecksForUpdates() const;
    virtual void setAutomaticallyChecksForUpdates(bool on);
    // True once started and while no check runs.
    bool canCheckForUpdates() const { return started_ && !checking_; }
    // Starts the daily checks.
    virtual void startUpdater();
    // A check the user asked for; its result is always presented.
    virtual void checkForUpdates();
    // Runs an automatic check when one is on and a day has passed since the
    // last check (or none was made). The wake timer calls it.
    void checkIfDue();

    void setPresent(Present present) { present_ = std::move(present); }
    static void presentWindow(const UpdateCheckResult& result);
    // Newer when the version is higher, or equal with a higher build.
    static bool isNewer(const QString& version, const QString& build, const QString& currentVersion,
                        const QString& currentBuild);
    static UpdateCheckResult parse(const QByteArray& json, const QString& currentVersion, const QString& currentBuild);

signals:
    void canCheckForUpdatesChanged(bool can);
    void checked(const UpdateCheckResult& result, bool userInitiated);

private:
    void check(bool userInitiated);
    void finish(const UpdateCheckResult& result, bool userInitiated);
    void setChecking(bool checking);

    QUrl feed_;
    QString version_;
    QString build_;
    const Clock& clock_;
    Present present_ = &UpdateFeed::presentWindow;
    QNetworkAccessManager* network_ = nullptr;
    QTimer* wake_;
    bool started_ = false;
    bool checking_ = false;
};

}  // namespace kelto
