// The kelto-sync executable: the render-test mode, the instance check, then
// the application.
#include <QApplication>
#include <QProcessEnvironment>

#include "Kelto_Sync/App/AppEntry.h"
#include "Kelto_Sync/App/AppFolders.h"
#include "Kelto_Sync/App/KeltoSyncApp.h"
#include "Kelto_Sync/App/SingleInstance.h"
#include "Kelto_Sync/App/SyncMenuLifecycle.h"

using namespace kelto;

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
    SingleInstance instance(QString::fromStdString(folders.runtime.string()), folders.runtimeIsShared);
    QString startupWarning;
    switch (instance.claim()) {
    case SingleInstance::Claim::forwarded:
        return 0;
    case SingleInstance::Claim::unreachable:
        // A second scheduler would run the same jobs beside the first.
        qCritical("kelto-sync: another instance is running but does not answer");
        return 1;
    case SingleInstance::Claim::failed:
    case SingleInstance::Claim::refused:
        // Turning the launch away would let whoever made the folder keep the
        // application from running; two instances are kept apart per job.
        // The user hears of it as of any other trouble at start-up.
        qCritical("kelto-sync: %s", qPrintable(instance.refusal()));
        startupWarning = instance.refusal();
        break;
    case SingleInstance::Claim::primary:
        break;
    }

    KeltoSyncApp app({
        .bundleRoot = {},
        .folders = folders,
        .defaults = nullptr,
        .notifications = nullptr,
        .systemEvents = nullptr,
        .volumeEvents = nullptr,
        .launchedAsLoginItem = SyncMenuLifecycle::isLoginItemLaunch(arguments),
        .startupWarning = startupWarning,
    });
    QObject::connect(&instance, &SingleInstance::reopenRequested, &app.lifecycle(),
                     &SyncMenuLifecycle::openMainWindow);
    app.start();
    return application.exec();
}
