#include "Kelto_Sync/App/SyncSetup.h"

#include "FenraCore/FenraIcon.h"
#include "KeltoDesign/KeltoIcon.h"
#include "KeltoPermissions/NotificationProbe.h"
#include "KeltoPermissions/PermissionChecklistView.h"
#include "KeltoPermissions/PermissionItems.h"
#include "KeltoPermissions/PermissionSetupState.h"
#include "KeltoPermissions/PermissionStrings.h"
#include "KeltoPermissions/SettingsOpener.h"

#include <QEvent>
#include <QTimer>
#include <QWindow>

namespace kelto {

SyncSetup::Dependencies SyncSetup::Dependencies::system(SyncStrings strings) {
    return Dependencies{
        .strings = strings,
        .locale = QLocale(),
        .makeItems = {},
        .openSettings = [opener = SettingsOpener::system()](const SettingsDestination& destination) {
            return opener.open(destination);
        },
        .relauncher = &AppRelauncher::shared(),
        .companion = CompanionPanel::Dependencies::system(),
        .loginItem = LoginItem::current(),
        .requestNotifications = &NotificationProbe::requestAuthorization,
    };
}

SyncSetup::SyncSetup(QSettings& defaults, Dependencies dependencies, QObject* parent)
    : QObject(parent), defaults_(defaults), dependencies_(std::move(dependencies)) {}

SyncSetup::~SyncSetup() = default;

std::vector<PermissionItem> SyncSetup::makeItems(const Dependencies& dependencies, QSettings& defaults) {
    const SyncStrings& strings = dependencies.strings;
    const QLocale& locale = dependencies.locale;
    const PermissionStrings packageStrings;

    PermissionItem fullDisk = PermissionItems::fullDiskAccess(
        strings.text(QStringLiteral("Lets scheduled syncs read Desktop, Documents, external and network drives "
                                    "without asking each time."),
                     locale),
        PermissionRequirement::recommended, packageStrings);
    fullDisk.id = fullDiskID;

    PermissionItem login = PermissionItems::loginItem(
        strings.text(QStringLiteral("Opens Kelto Sync when you log in so scheduled syncs keep running."), locale),
        PermissionRequirement::recommended, packageStrings, strings.text(QStringLiteral("Turn On"), locale),
        dependencies.loginItem);
    login.id = loginID;

    PermissionItem notifications = PermissionItems::notifications(
        desktopID,
        strings.text(QStringLiteral("Get notified when a sync needs attention. Success notifications can be "
                                    "enabled in Settings."),
                     locale),
        PermissionRequirement::optional, packageStrings);
    notifications.id = notificationsID;
    notifications.title = strings.text(QStringLiteral("Notifications"), locale);
    notifications.symbolName = symbolName(KeltoIcon::permissionNotifications);
    notifications.tint = TileTint::coral;
    notifications.ctaTitle = strings.text(QStringLiteral("Turn On"), locale);
    notifications.opensSettingsAfterRequest = false;
    notifications.handsOffToSettings = false;
    notifications.allowsManualConfirm = false;
    notifications.repeatsRequest = false;
    // The switch is ours even when the desktop then shows nothing.
    notifications.request = [&defaults, request = dependencies.requestNotifications](std::function<void()> done) {
        defaults.setValue(notificationsEnabled, true);
        if (request) {
            request(std::move(done));
        } else {
            NotificationProbe::requestAuthorization(std::move(done));
        }
    };
    return {std::move(fullDisk), std::move(login), std::move(notifications)};
}

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
    presentationParent_ = parent;
    PermissionSetupState{defaults_, prefix}.markInProgress();
    if (!controller_) build();
    controller_->show(item);
}

void SyncSetup::build() {
    std::vector<PermissionItem> items =
        dependencies_.makeItems ? dependencies_.makeItems(defaults_) : makeItems(dependencies_, defaults_);
    AppRelauncher& relauncher = dependencies_.relauncher ? *dependencies_.relauncher : AppRelauncher::shared();
    checklist_ = std::make_unique<PermissionChecklist>(QStringLiteral("Kelto Sync"), PermissionStrings(),
                                                       std::move(items), defaults_, dependencies_.openSettings,
                                                       relauncher);
    const QString title = dependencies_.strings.text(QStringLiteral("Set up Kelto Sync"), dependencies_.locale);
    QPointer<SyncSetup> self(this);
    controller_ = std::make_unique<PermissionSetupController>(
        *checklist_,
        [this, title](PermissionSetupController& controller) -> QWidget* {
            QPointer<PermissionSetupController> owner(&controller);
            return new PermissionChecklistView(
                *checklist_,
                PermissionChecklistView::Options{
                    .title = title,
                    .appSymbolName = symbolName(FenraIcon::copy),
                    .appTint = TileTint::sky,
                    .accessory = {},
                    .footnote = dependencies_.strings.text(
                        QStringLiteral("Automatic sync runs only while Kelto Sync is open."), dependencies_.locale),
                    .onDone = [owner] { if (owner) owner->finish(PermissionSetupOutcome::done); },
                    .onLater = [owner] { if (owner) owner->finish(PermissionSetupOutcome::later); },
                });
        },
        title,
        [self](PermissionSetupOutcome outcome) {
            if (self) self->finish(outcome);
        },
        [self](QWidget& window) {
            if (self) self->attach(window);
        },
        &SyncSetup::detach);
    controller_->setCompanionDependencies(dependencies_.companion);
}

void SyncSetup::attach(QWidget& window) {
    window.winId();
    QWindow* handle = window.windowHandle();
    // Qt has no child windows: a transient parent keeps it above its parent.
    if (handle) handle->setTransientParent(nullptr);
    if (handle && presentationParent_) {
        presentationParent_->winId();
        handle->setTransientParent(presentationParent_->windowHandle());
    }
    window.show();
    window.raise();
    window.activateWindow();
}

void SyncSetup::detach(QWidget& window) {
    if (QWindow* handle = window.windowHandle()) handle->setTransientParent(nullptr);
    window.hide();
}

void SyncSetup::finish(PermissionSetupOutcome outcome) {
    defaults_.setValue(onboardingDone, true);
    PermissionSetupState state{defaults_, prefix};
    if (outcome == PermissionSetupOutcome::done) {
        state.markCompleted(currentVersion);
    } else {
        state.clearInProgress();
    }
    presentationParent_ = nullptr;
    // The controller is still inside its own finish: both go on the next
    // turn, the controller first since it reads the checklist as it ends.
    if (controller_) controller_.release()->deleteLater();
    if (checklist_) checklist_.release()->deleteLater();
}

}  // namespace kelto
