#include "Kelto_Sync/App/SyncMenuLifecycle.h"

#include "Kelto_Sync/AppEvents.h"
#include "Kelto_Sync/App/SyncSetup.h"

#include <QStringList>

namespace kelto {

SyncMenuLifecycle::SyncMenuLifecycle(AppModelInterface* model, SyncSetup* setup, QSettings& defaults,
                                     MainWindowOpening& windows, bool launchedAsLoginItem, QObject* parent)
    : QObject(parent),
      model_(model),
      setup_(setup),
      defaults_(defaults),
      windows_(windows),
      launchedAsLoginItem_(launchedAsLoginItem) {
    connect(&AppEvents::shared(), &AppEvents::openMainWindowPosted, this, &SyncMenuLifecycle::openMainWindow);
    connect(&AppEvents::shared(), &AppEvents::openJobPosted, this, &SyncMenuLifecycle::openJob);
}

bool SyncMenuLifecycle::isLoginItemLaunch(const QStringList& arguments) {
    return arguments.mid(1).contains(QStringLiteral("--login-item"));
}

void SyncMenuLifecycle::handleInitialLaunch() {
    if (std::exchange(handledInitialLaunch_, true)) return;
    bool gated = false;
    // Without a model there is nothing to set up.
    if (model_ && setup_ && SyncSetup::needsGate(defaults_)) {
        setup_->setGatePending(true);
        setup_->scheduleGateCheck();
        gated = true;
    }
    if (!gated && launchedAsLoginItem_ && defaults_.value(SyncSetup::onboardingDone, false).toBool()) return;
    windows_.openMainWindow();
}

void SyncMenuLifecycle::openMainWindow() { windows_.openMainWindow(); }

void SyncMenuLifecycle::openJob(const QString& object) {
    if (!model_) return;
    model_->setRequestedJobID(Uuid::parse(object.toStdString()));
    windows_.openMainWindow();
}

}  // namespace kelto
