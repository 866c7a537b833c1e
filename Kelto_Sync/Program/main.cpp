// The kelto-sync executable: the instance check, the running system, the
// launch decision and the quit rules around the windows.
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QProcessEnvironment>
#include <QSettings>
#include <QTimer>
#include <QVBoxLayout>

#include "KeltoPermissions/AppRelauncher.h"
#include "Kelto_Sync/App/AppEntry.h"
#include "Kelto_Sync/App/AppFolders.h"
#include "Kelto_Sync/App/AppRuntime.h"
#include "Kelto_Sync/App/DesktopAppearance.h"
#include "Kelto_Sync/App/QtMainExecutor.h"
#include "Kelto_Sync/App/QuitController.h"
#include "Kelto_Sync/App/SingleInstance.h"
#include "Kelto_Sync/App/SyncMenuLifecycle.h"
#include "Kelto_Sync/App/SyncSetup.h"
#include "Kelto_Sync/App/WindowMenu.h"
#include "Kelto_Sync/App/WindowPresence.h"
#include "Kelto_Sync/AppModelAdapter.h"
#include "Kelto_Sync/Main/JobListView.h"
#include "Kelto_Sync/Notifications/NotificationRouter.h"
#include "Kelto_Sync/Notifications/Notifier.h"
#include "Kelto_Sync/Program/MainWindowHost.h"
#include "Kelto_Sync/Settings/BundleInfo.h"
#include "Kelto_Sync/Settings/SyncSettingsWindowController.h"
#include "Kelto_Sync/Settings/UpdateFeed.h"
#include "Kelto_Sync/Settings/Updater.h"
#include "Kelto_Sync/Status/TrayIconImage.h"
#include "Kelto_Sync/SyncStrings.h"
#include "Kelto_Sync/Tray/MenuBarContent.h"
#include "Kelto_Sync/Tray/TrayPresence.h"
#include "Platform/Desktop/FreedesktopNotificationCenter.h"
#include "SyncEngine/RsyncLocatorError.h"
#include "SyncModel/Support/Clock.h"

#include <memory>
#include <optional>

using namespace kelto;

namespace {

// The run-finished routing's notices, posted by the desktop notifier.
class NotifierNotices final : public RunNotices {
public:
    explicit NotifierNotices(Notifier& notifier) : notifier_(notifier) {}
    void notifySuccess(const RunRecord& record, const std::string& jobName) override {
        notifier_.notifySuccess(record, jobName);
    }
    void notifyProblem(const RunRecord& record, const std::string& jobName) override {
        notifier_.notifyProblem(record, jobName);
    }
    void notifyReviewNeeded(const Uuid& jobID, const std::string& jobName, const std::string& detail) override {
        notifier_.notifyReviewNeeded(jobID, jobName, detail);
    }
    void askToSync(const SyncJob& job) override { notifier_.askToSync(job); }

private:
    Notifier& notifier_;
};

// What the tray's popup shows when the system could not start.
QWidget* startupFailure(const SyncStrings& strings, const QLocale& locale, const QString& error,
                        std::function<void()> quit) {
    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    layout->addWidget(new QLabel(strings.text(QStringLiteral("Unable to start Kelto Sync"), locale), content));
    auto* reason = new QLabel(error, content);
    reason->setForegroundRole(QPalette::PlaceholderText);
    reason->setWordWrap(true);
    layout->addWidget(reason);
    auto* quitButton = new QPushButton(strings.text(QStringLiteral("Quit"), locale), content);
    QObject::connect(quitButton, &QPushButton::clicked, content, std::move(quit));
    layout->addWidget(quitButton);
    return content;
}

}  // namespace

int main(int argc, char** argv) {
    // Render tests start a bare event loop: no instance lock, no runtime,
    // no window, no tray.
    if (AppEntry::isRenderTestRun(QProcessEnvironment::systemEnvironment())) {
        QApplication application(argc, argv);
        application.setQuitOnLastWindowClosed(false);
        return application.exec();
    }

    QApplication application(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Kelto"));
    QApplication::setApplicationName(QStringLiteral("Kelto Sync"));
    QApplication::setDesktopFileName(QStringLiteral("kelto-sync"));
    // Closing the main window leaves automatic runs going.
    application.setQuitOnLastWindowClosed(false);
    const QStringList arguments = QApplication::arguments();

    SingleInstance::waitForExit(SingleInstance::relaunchAfter(arguments));
    const AppFolders folders = AppFolders::fromEnvironment();
    SingleInstance instance(QString::fromStdString(folders.runtime.string()));
    switch (instance.claim()) {
    case SingleInstance::Claim::forwarded:
        return 0;
    case SingleInstance::Claim::unreachable:
        // A second scheduler would run the same jobs beside the first.
        qCritical("kelto-sync: another instance is running but does not answer");
        return 1;
    case SingleInstance::Claim::failed:
        qWarning("kelto-sync: cannot take the instance lock; starting anyway");
        break;
    case SingleInstance::Claim::primary:
        break;
    }

    DesktopAppearance appearance;
    appearance.start();

    const SyncStrings strings = SyncStrings::application();
    const QLocale locale;
    QtMainExecutor main;
    QSettings defaults;
    FreedesktopNotificationCenter notificationCenter(QDBusConnection::sessionBus());
    NotificationRouter::shared().listen(notificationCenter);
    Notifier notifier(notificationCenter, defaults, strings);
    NotifierNotices notices(notifier);
    std::unique_ptr<AppRuntime> runtime;
    QString startupError;
    try {
        runtime = std::make_unique<AppRuntime>(AppRuntime::Options{
            .bundleRoot = AppRuntime::bundleRootFromExecutable(),
            .folders = folders,
            .main = main,
            .notices = notices,
            .openJob = {},
            .systemEvents = nullptr,
            .volumeEvents = nullptr,
            .sleepInhibitor = nullptr,
            .ejector = nullptr,
        });
    } catch (const RsyncLocatorError& error) {
        startupError = QString::fromStdString(error.what());
    }
    AppModelInterface* model = runtime ? &runtime->model() : nullptr;
    std::unique_ptr<AppModelAdapter> adapter = model ? std::make_unique<AppModelAdapter>(*model) : nullptr;
    NotificationRouter::shared().setModel(adapter.get());

    SyncSetup::Dependencies setupDependencies = SyncSetup::Dependencies::system(strings);
    setupDependencies.requestNotifications = [&notifier](std::function<void()> done) {
        notifier.requestAuthorization([done = std::move(done)](Result<bool>) { done(); });
    };
    SyncSetup setup(defaults, std::move(setupDependencies));
    WindowPresence presence;

    const BundleInfo bundle = BundleInfo::application();
    Updater updater(std::make_unique<UpdateFeed>(bundle.updateFeedURL, bundle.shortVersion, bundle.buildNumber,
                                                 SystemClock::shared()));
    SettingsViewActions settingsActions;
    std::unique_ptr<SyncSettingsWindowController> settingsWindow;
    settingsActions.presentSetup = [&](const std::optional<QString>& item) {
        setup.present(item, settingsWindow ? settingsWindow->window() : nullptr);
    };
    settingsActions.requestAuthorization = [&notifier](std::function<void(bool)> done) {
        notifier.requestAuthorization([done = std::move(done)](Result<bool> granted) {
            done(granted.hasValue() && granted.get());
        });
    };
    if (runtime) settingsWindow = std::make_unique<SyncSettingsWindowController>(updater, strings, settingsActions);
    const auto showSettings = [&] {
        if (!settingsWindow) return;
        settingsWindow->show();
        presence.registerWindow(settingsWindow->window());
    };

    QuitController quitController({
        .model = [&runtime]() -> AppModelInterface* { return runtime ? &runtime->model() : nullptr; },
        .confirmStop = &QuitController::askToStop,
        .cancelRelaunch = [] { AppRelauncher::shared().cancelRelaunch(); },
        .quit = [] { QCoreApplication::exit(0); },
    });
    quitController.watchSignals();
    quitController.watchApplication(application, [] { AppRelauncher::shared().applicationWillTerminate(); });

    MainWindowHost mainWindow(
        [&]() -> QWidget* {
            auto* window = new QWidget;
            window->setWindowTitle(strings.text(QStringLiteral("Kelto Sync"), locale));
            window->resize(1000, 760);
            auto* layout = new QVBoxLayout(window);
            layout->setContentsMargins(0, 0, 0, 0);
            const WindowMenu::Made menu = WindowMenu::make(*window, strings, locale, runtime != nullptr, showSettings,
                                                           [&] { quitController.requestQuit(true); });
            layout->setMenuBar(menu.bar);
            if (adapter) {
                layout->addWidget(
                    new JobListView(*adapter, strings, JobListView::standardEditors(*adapter, strings)));
            } else {
                auto* reason = new QLabel(startupError, window);
                reason->setMargin(20);
                reason->setAlignment(Qt::AlignLeft | Qt::AlignTop);
                layout->addWidget(reason);
            }
            return window;
        },
        [&](QWidget& window) {
            presence.registerWindow(&window);
            if (model) setup.setMainWindow(&window);
        });
    TrayIconImage trayImage;
    if (adapter) {
        trayImage.follow(*adapter);
    } else {
        trayImage.setState(MenuBarIconState::attention());
    }
    TrayPresence tray(
        TrayActions{
            .openMainWindow = [&] { mainWindow.openMainWindow(); },
            .syncAll = [&] { if (model) model->runAll(); },
            .showSettings = showSettings,
            .quit = [&] { quitController.requestQuit(true); },
        },
        [&]() -> QWidget* {
            const auto quit = [&] { quitController.requestQuit(true); };
            if (!adapter) return startupFailure(strings, locale, startupError, quit);
            return new MenuBarContent(*adapter, strings,
                                      MenuBarContent::Actions{
                                          .openMainWindow = [&] { mainWindow.openMainWindow(); },
                                          .showSettings = showSettings,
                                          .quit = quit,
                                      });
        },
        strings);
    tray.setIcon(trayImage.icon());
    QObject::connect(&trayImage, &TrayIconImage::iconChanged, &tray, &TrayPresence::setIcon);
    tray.show();

    SyncMenuLifecycle lifecycle(model, model ? &setup : nullptr, defaults, mainWindow,
                                SyncMenuLifecycle::isLoginItemLaunch(arguments));
    QObject::connect(&instance, &SingleInstance::reopenRequested, &lifecycle, &SyncMenuLifecycle::openMainWindow);
    QTimer::singleShot(0, &lifecycle, &SyncMenuLifecycle::handleInitialLaunch);

    // Last, so that a first check finds everything in place.
    updater.start();

    const int status = application.exec();
    NotificationRouter::shared().setModel(nullptr);
    // The windows go first (declared after the model they show), then the
    // model and the runtime.
    return status;
}
