#include "Kelto_Sync/App/SyncSetup.h"

#include "KeltoPermissions/PermissionSetupState.h"

#include <QEvent>
#include <QTimer>

namespace kelto {

SyncSetup::SyncSetup(QSettings& defaults, Presenter presenter, QObject* parent)
    : QObject(parent), defaults_(defaults), presenter_(std::move(presenter)) {}

bool SyncSetup::needsGate(QSettings& defaults) {
    const PermissionSetupState state{defaults, prefix};
    return PermissionSetupState::shouldPresent(state.completedVersion(), currentVersion,
                                               !defaults.value(onboardingDone, false).toBool(), state.isInProgress(),
                                               false);
}

void SyncSetup::setMainWindow(QWidget* window) {
    if (mainWindow_ == window) return;
    if (mainWindow_) mainWindow_->removeEventFilter(this);
    mainWindow_ = window;
    if (window) window->installEventFilter(this);
    scheduleGateCheck();
}

bool SyncSetup::eventFilter(QObject* watched, QEvent* event) {
    if (watched == mainWindow_ && event->type() == QEvent::WindowActivate) scheduleGateCheck();
    return false;
}

void SyncSetup::scheduleGateCheck() {
    QTimer::singleShot(0, this, [this] { checkLaunchGate(); });
}

void SyncSetup::checkLaunchGate() {
    if (!gatePending_ || !mainWindow_ || !mainWindow_->isVisible() || !mainWindow_->isActiveWindow()) return;
    gatePending_ = false;
    present(std::nullopt, mainWindow_);
}

void SyncSetup::present(const std::optional<QString>& item, QWidget* parent) {
    PermissionSetupState{defaults_, prefix}.markInProgress();
    if (presenter_) presenter_(item, parent);
}

void SyncSetup::finish(PermissionSetupOutcome outcome) {
    defaults_.setValue(onboardingDone, true);
    PermissionSetupState state{defaults_, prefix};
    if (outcome == PermissionSetupOutcome::done) {
        state.markCompleted(currentVersion);
    } else {
        state.clearInProgress();
    }
}

}  // namespace kelto
