// The kelto-sync executable: the instance check, the running system, the
// launch decision and the quit rules around the windows.
#include <QApplication>
#include <QLabel>
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
#include "Kelto_Sync/Program/MainWindowHost.h"
#include "Kelto_Sync/SyncStrings.h"
#include "SyncEngine/RsyncLocatorError.h"

#include <memory>
#include <optional>

using namespace kelto;

namespace {

// Stands in for the desktop notifier until it is wired in.
class SilentNotices final : public RunNotices {
public:
    void notifySuccess(const RunRecord&, const std::string&) override {}
    void notifyProblem(const RunRecord&, const std::string&) override {}
    void notifyReviewNeeded(const Uuid&, const std::string&, const std::string&) override {}
    void askToSync(const SyncJob&) override {}
};

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
    SilentNotices notices;  // PLACEHOLDER: the desktop notifier
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

    QSettings defaults;
    SyncSetup setup(defaults, SyncSetup::Dependencies::system(strings));
    WindowPresence presence;

    QuitController quitController({
        .model = [&runtime]() -> AppModelInterface* { return runtime ? &runtime->model() : nullptr; },
        .confirmStop = &QuitController::askToStop,
        .cancelRelaunch = [] { AppRelauncher::shared().cancelRelaunch(); },
        .quit = [] { QCoreApplication::exit(0); },
    });
    quitController.watchSignals();
    quitController.watchApplication(application, [] { AppRelauncher::shared().applicationWillTerminate(); });

    // PLACEHOLDER: the main window with the job list replaces this one.
    MainWindowHost mainWindow(
        [&]() -> QWidget* {
            auto* window = new QWidget;
            window->setWindowTitle(strings.text(QStringLiteral("Kelto Sync"), locale));
            window->resize(1000, 760);
            auto* layout = new QVBoxLayout(window);
            // PLACEHOLDER: "Settings…" opens the settings window.
            const WindowMenu::Made menu = WindowMenu::make(*window, strings, locale, runtime != nullptr, {},
                                                           [&] { quitController.requestQuit(true); });
            layout->setMenuBar(menu.bar);
            layout->addWidget(new QLabel(startupError, window));
            return window;
        },
        [&](QWidget& window) {
            presence.registerWindow(&window);
            if (model) setup.setMainWindow(&window);
        });
    // PLACEHOLDER: the tray icon and its menu.

    SyncMenuLifecycle lifecycle(model, model ? &setup : nullptr, defaults, mainWindow,
                                SyncMenuLifecycle::isLoginItemLaunch(arguments));
    QObject::connect(&instance, &SingleInstance::reopenRequested, &lifecycle, &SyncMenuLifecycle::openMainWindow);
    QTimer::singleShot(0, &lifecycle, &SyncMenuLifecycle::handleInitialLaunch);

    const int status = application.exec();
    runtime.reset();
    return status;
}
