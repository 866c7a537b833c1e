#pragma once

// A Qt header first: moc's parser stumbles over <concepts>.
#include <QLocale>
#include <QObject>
#include <QPointer>
#include <QSettings>
#include <QString>
#include <QWidget>

#include "KeltoPermissions/AppRelauncher.h"
#include "KeltoPermissions/CompanionPanel.h"
#include "KeltoPermissions/LoginItem.h"
#include "KeltoPermissions/PermissionChecklist.h"
#include "KeltoPermissions/PermissionItem.h"
#include "KeltoPermissions/PermissionSetupController.h"
#include "KeltoPermissions/PermissionSetupOutcome.h"
#include "Kelto_Sync/SyncStrings.h"

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace kelto {

// The application's first-run setup: the three permission items, the
// checklist window attached to a parent window, the launch gate that opens
// it once the main window is shown and active, and the keys that record how
// the setup ended. GUI thread only.
class SyncSetup : public QObject {
    Q_OBJECT
public:
    static constexpr int currentVersion = 1;
    static inline const QString prefix = QStringLiteral("setup.checklist");
    static inline const QString onboardingDone = QStringLiteral("onboarding.done");
    static inline const QString notificationsEnabled = QStringLiteral("notifications.enabled");
    static inline const QString fullDiskID = QStringLiteral("sync.fullDisk");
    static inline const QString loginID = QStringLiteral("sync.login");
    static inline const QString notificationsID = QStringLiteral("sync.notifications");
    // The application's desktop file id, which the notification settings name.
    static inline const QString desktopID = QStringLiteral("kelto-sync");

    struct Dependencies {
        SyncStrings strings;
        QLocale locale;
        // The items of each new checklist; makeItems() over these
        // dependencies when empty.
        std::function<std::vector<PermissionItem>(QSettings& defaults)> makeItems;
        PermissionChecklist::OpenSettings openSettings;
        AppRelauncher* relauncher = nullptr;
        // None where the desktop lists no windows.
        std::optional<CompanionPanel::Dependencies> companion;
        LoginItem loginItem;
        // Readies the notifier; called after "notifications.enabled" is set.
        std::function<void(std::function<void()> done)> requestNotifications;

        // The desktop's own: its settings programs, the shared relauncher,
        // our autostart entry.
        static Dependencies system(SyncStrings strings);
    };

    SyncSetup(QSettings& defaults, Dependencies dependencies, QObject* parent = nullptr);
    ~SyncSetup() override;

    // "sync.fullDisk", "sync.login", "sync.notifications", in that order.
    static std::vector<PermissionItem> makeItems(const Dependencies& dependencies, QSettings& defaults);

    // The launch decision: a setup under way, or none completed and
    // onboarding not done.
    static bool needsGate(QSettings& defaults);

    void setMainWindow(QWidget* window);
    QWidget* mainWindow() const { return mainWindow_; }
    void setGatePending(bool pending) { gatePending_ = pending; }
    bool isGatePending() const { return gatePending_; }

    // Checks the gate on the next turn of the event loop.
    void scheduleGateCheck();
    void checkLaunchGate();

    // Marks the setup in progress and shows the checklist focused on `item`,
    // attached to `parent` (a free window without one). A checklist already
    // shown is reused.
    void present(const std::optional<QString>& item, QWidget* parent);
    // "Done" or "Set up later" (closing the checklist counts as later).
    void finish(PermissionSetupOutcome outcome);

    // None between setups.
    PermissionSetupController* controller() const { return controller_.get(); }
    PermissionChecklist* checklist() const { return checklist_.get(); }
    QWidget* presentationParent() const { return presentationParent_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void build();
    void attach(QWidget& window);
    static void detach(QWidget& window);

    QSettings& defaults_;
    Dependencies dependencies_;
    QPointer<QWidget> mainWindow_;
    QPointer<QWidget> presentationParent_;
    bool gatePending_ = false;
    // The controller goes first: it reads the checklist as it ends.
    std::unique_ptr<PermissionChecklist> checklist_;
    std::unique_ptr<PermissionSetupController> controller_;
};

}  // namespace kelto
