#pragma once

// Qt headers first: moc's parser stumbles over <concepts>.
#include <QLocale>
#include <QSettings>
#include <QString>
#include <QWidget>

#include "Kelto_Sync/App/AppFolders.h"
#include "Kelto_Sync/App/AppRuntime.h"
#include "Kelto_Sync/App/DesktopAppearance.h"
#include "Kelto_Sync/App/MainWindowHost.h"
#include "Kelto_Sync/App/QtMainExecutor.h"
#include "Kelto_Sync/App/QuitController.h"
#include "Kelto_Sync/App/RunNotices.h"
#include "Kelto_Sync/App/SyncMenuLifecycle.h"
#include "Kelto_Sync/App/SyncSetup.h"
#include "Kelto_Sync/App/WindowPresence.h"
#include "Kelto_Sync/AppModelAdapter.h"
#include "Kelto_Sync/Notifications/NotificationCenter.h"
#include "Kelto_Sync/Notifications/Notifier.h"
#include "Kelto_Sync/Settings/SettingsViewActions.h"
#include "Kelto_Sync/Settings/SyncSettingsWindowController.h"
#include "Kelto_Sync/Settings/Updater.h"
#include "Kelto_Sync/Status/TrayIconImage.h"
#include "Kelto_Sync/SyncStrings.h"
#include "Kelto_Sync/Tray/TrayPresence.h"

#include <filesystem>
#include <memory>

namespace kelto {

// The application once this process is the one instance: the runtime (or
// why it could not start), the notifier, the main window, the settings
// window, the updater, the tray, the quit rules and the launch decision.
// GUI thread only; members are torn down in reverse, so the windows go
// before the adapter and the runtime they show.
class KeltoSyncApp {
public:
    struct Options {
        // The bundle whose rsync runs the jobs; the running program's when
        // empty.
        std::filesystem::path bundleRoot;
        AppFolders folders;
        // The application's own settings when null.
        QSettings* defaults = nullptr;
        // The desktop's notification server on the session bus when null.
        NotificationCenter* notifications = nullptr;
        // The system's own when null (tests give fakes).
        SystemEvents* systemEvents = nullptr;
        VolumeEvents* volumeEvents = nullptr;
        // Started by the autostart entry ("--login-item").
        bool launchedAsLoginItem = false;
        // What went wrong before the application was built without keeping
        // it from running (the instance check refused its folder): shown as
        // the model's error, or beside the start-up error without a runtime.
        QString startupWarning = {};
    };

    explicit KeltoSyncApp(Options options);
    ~KeltoSyncApp();
    KeltoSyncApp(const KeltoSyncApp&) = delete;
    KeltoSyncApp& operator=(const KeltoSyncApp&) = delete;

    // Shows the tray, decides on the next turn of the event loop whether the
    // main window opens, and starts the updater when the runtime started.
    void start();

    // What the tray's popup holds, made afresh each time it opens.
    QWidget* makeMenuContent();

    // Null when start-up failed; then startupError() says why.
    AppRuntime* runtime() const { return runtime_.get(); }
    const QString& startupError() const { return startupError_; }
    // The open main window, or null.
    TrayPresence& tray() { return tray_; }
    QWidget* mainWindow() const { return mainWindow_.window(); }
    SyncMenuLifecycle& lifecycle() { return lifecycle_; }
    SyncSetup& setup() { return setup_; }
    QuitController& quitController() { return quitController_; }
    Updater& updater() { return updater_; }

private:
    // The run-finished routing's notices, posted by the desktop notifier.
    class NotifierNotices final : public RunNotices {
    public:
        explicit NotifierNotices(Notifier& notifier) : notifier_(notifier) {}
        void notifySuccess(const RunRecord& record, const std::string& jobName) override;
        void notifyProblem(const RunRecord& record, const std::string& jobName) override;
        void notifyReviewNeeded(const Uuid& jobID, const std::string& jobName, const std::string& detail) override;
        void askToSync(const SyncJob& job) override;
        void withdrawAsk(const Uuid& jobID) override;

    private:
        Notifier& notifier_;
    };

    static std::unique_ptr<AppRuntime> makeRuntime(const Options& options, MainExecutor& main, RunNotices& notices,
                                                   QString& error);
    SyncSetup::Dependencies setupDependencies();
    QWidget* makeMainWindow();
    void showSettings();
    void requestQuit();
    void leaveDrafts(std::function<void()> proceed, std::function<void()> stay);

    Options options_;
    SyncStrings strings_;
    QLocale locale_;
    DesktopAppearance appearance_;
    QtMainExecutor main_;
    std::unique_ptr<QSettings> ownDefaults_;
    QSettings& defaults_;
    std::unique_ptr<NotificationCenter> ownNotifications_;
    NotificationCenter& notifications_;
    Notifier notifier_;
    NotifierNotices notices_;
    QString startupError_;
    std::unique_ptr<AppRuntime> runtime_;
    std::unique_ptr<AppModelAdapter> adapter_;
    SyncSetup setup_;
    WindowPresence presence_;
    Updater updater_;
    SettingsViewActions settingsActions_;
    std::unique_ptr<SyncSettingsWindowController> settingsWindow_;
    QuitController quitController_;
    MainWindowHost mainWindow_;
    TrayIconImage trayImage_;
    TrayPresence tray_;
    SyncMenuLifecycle lifecycle_;
};

}  // namespace kelto
