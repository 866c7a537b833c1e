#pragma once

// A Qt header first: moc's parser stumbles over <concepts>.
#include <QObject>
#include <QSettings>
#include <QString>

#include "SyncAutomation/AppModelInterface.h"

namespace kelto {

class SyncSetup;

// How the shell brings up its main window; the real one builds it when
// none is open, shows it and makes it the active window.
class MainWindowOpening {
public:
    virtual ~MainWindowOpening() = default;
    virtual void openMainWindow() = 0;
};

// Decides once, when launching has finished, whether the main window opens,
// the first-run setup waits for it, or the application stays in the tray;
// opens the main window whenever AppEvents asks for it or for a job.
class SyncMenuLifecycle : public QObject {
    Q_OBJECT
public:
    // `model` and `setup` are null when start-up failed.
    SyncMenuLifecycle(AppModelInterface* model, SyncSetup* setup, QSettings& defaults, MainWindowOpening& windows,
                      bool launchedAsLoginItem, QObject* parent = nullptr);

    // "--login-item", which the autostart entry passes.
    static bool isLoginItemLaunch(const QStringList& arguments);

    // At most once; later calls do nothing.
    void handleInitialLaunch();
    void openMainWindow();
    // `object` should be a job's UUID; anything else clears the request.
    void openJob(const QString& object);

private:
    AppModelInterface* model_;
    SyncSetup* setup_;
    QSettings& defaults_;
    MainWindowOpening& windows_;
    bool launchedAsLoginItem_;
    bool handledInitialLaunch_ = false;
};

}  // namespace kelto
