#pragma once

#include "FenraCore/Binding.h"
#include "FenraSettings/SettingsPane.h"
#include "KeltoPermissions/PermissionStatus.h"
#include "Kelto_Sync/Settings/LicensesView.h"
#include "Kelto_Sync/Settings/SettingsViewActions.h"
#include "Kelto_Sync/SyncStrings.h"

#include <QPointer>
#include <QWidget>

#include <cstdint>
#include <optional>
#include <vector>

namespace kelto {


class SettingsShell;
class Updater;

// The settings window's content: General, Permissions and About in the
// kit's settings shell. Notification switches live in QSettings
// ("notifications.enabled", on unless stored off; "notifications.success",
// off unless stored on); "Open at login" is the autostart entry; the update
// switches are the Updater's. The Full Disk Access probe runs on a worker
// thread whenever the Permissions pane is shown or the application becomes
// active on it; of overlapping probes the newest started one is kept.
class SettingsView : public QWidget {
    Q_OBJECT

public:
    static inline const QString notificationsKey = QStringLiteral("notifications.enabled");
    static inline const QString successKey = QStringLiteral("notifications.success");

    SettingsView(Updater& updater, SyncStrings strings, SettingsViewActions actions, QWidget* parent = nullptr);
    ~SettingsView() override;

    SettingsShell* shell() const { return shell_; }
    Binding<QString>& selection() { return selection_; }
    bool login() const { return login_; }
    PermissionStatus fullDiskAccess() const { return fullDiskAccess_; }
    std::optional<QString> error() const { return error_; }
    LicensesView* licensesView() const { return licenses_; }

    // Re-reads the login item and, on the Permissions pane, probes again.
    void refresh();
    void refreshFullDiskAccess();
    void setOpenAtLogin(bool on);
    void showLicenses();

    QString currentVersionLine() const;
    QString versionLine() const;
    static QString statusTitleKey(PermissionStatus status);

signals:
    // Any of the view's own state changed; panes on screen follow it.
    void stateChanged();
    // A probe answered, whether or not its answer was kept.
    void fullDiskAccessProbed();

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::vector<SettingsPane> panes();
    QWidget* generalPane();
    QWidget* permissionsPane();
    QWidget* aboutPane();
    QString text(const QString& english) const;

    Updater& updater_;
    SyncStrings strings_;
    SettingsViewActions actions_;
    Binding<QString> selection_{QStringLiteral("general")};
    bool login_ = false;
    PermissionStatus fullDiskAccess_ = PermissionStatus::checking;
    std::optional<QString> error_;
    std::uint64_t probesStarted_ = 0;
    std::uint64_t probeShown_ = 0;
    QPointer<LicensesView> licenses_;
    SettingsShell* shell_ = nullptr;
};

}  // namespace kelto
