#pragma once

// A Qt header first: moc's parser stumbles over <concepts>.
#include <QObject>
#include <QPointer>
#include <QSettings>
#include <QString>

#include "KeltoPermissions/AppRelauncher.h"
#include "KeltoPermissions/PermissionCTA.h"
#include "KeltoPermissions/PermissionItem.h"
#include "KeltoPermissions/PermissionStrings.h"

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stop_token>
#include <utility>
#include <vector>

class QTimer;

namespace kelto {

// The model behind the permission setup: probes the items one after
// another, keeps each one's status, decides and carries out each row's call
// to action, remembers hand confirmations, and refreshes periodically while
// monitoring. GUI thread only. `changed` is emitted once per real change of
// what the views read.
class PermissionChecklist : public QObject {
    Q_OBJECT
public:
    using Done = std::function<void()>;
    // Opens the place that grants something; false when nothing opened.
    using OpenSettings = std::function<bool(const SettingsDestination&)>;

    static constexpr std::chrono::milliseconds defaultMonitorInterval{1500};

    // `defaults` keeps the focus and the confirmations and must outlive the
    // checklist; so must `relauncher`.
    PermissionChecklist(QString appName, PermissionStrings strings, std::vector<PermissionItem> items,
                        QSettings& defaults, OpenSettings openSettings, AppRelauncher& relauncher,
                        QObject* parent = nullptr);
    ~PermissionChecklist() override;

    const QString& appName() const { return appName_; }
    const PermissionStrings& strings() const { return strings_; }
    const std::vector<PermissionItem>& items() const { return items_; }
    const PermissionItem* item(const QString& id) const;
    const std::set<QString>& returnedWithoutSuccess() const { return returnedWithoutSuccess_; }
    const std::optional<QString>& focusedItemID() const { return focusedItemID_; }
    const std::set<QString>& confirmations() const { return confirmations_; }
    bool isPending(const QString& id) const { return pendingSettings_.contains(id); }
    bool isRefreshing() const { return refreshing_; }
    bool isMonitoring() const { return monitor_ != nullptr; }

    // Called when an item is handed over to the settings, before they open.
    std::function<void(const PermissionItem&)> onOpenSettings;
    std::function<void()> onSettingsOpenFailed;

    void setItems(std::vector<PermissionItem> items);

    // `checking` when nothing is stored.
    PermissionStatus status(const QString& id) const;
    std::optional<QString> error(const QString& id) const;
    PermissionCTA cta(const QString& id) const;

    // `done` runs when the action is over (at once when there is none).
    void perform(const QString& id, Done done = {});
    void openSettings(const PermissionItem& item);
    void requestRestart(const QString& id);

    // Probes every item in order. Returns at once (calling `done`) when a
    // refresh is already running. A probe answered after the items were
    // replaced or `stop` was requested stores nothing and ends the refresh.
    void refreshAll(Done done = {}, std::stop_token stop = {});
    // After a hand-off: refreshes, then marks each item handed over and not
    // granted as returned without success. A refresh already running may
    // hold probes made before the user acted, so it is waited for and a
    // fresh one is run.
    void refreshAfterReturn(Done done = {});

    // The item the window scrolls to; kept under focusKey() in the defaults.
    void focus(const QString& id);
    void clearFocus();

    void confirmManually(const QString& id);
    bool isManuallyConfirmed(const QString& id) const;

    // Refreshes at once, then again `interval` after each refresh ends.
    void startMonitoring(std::chrono::milliseconds interval = defaultMonitorInterval);
    void stopMonitoring();

    bool canFinish() const;
    // (ready, total) over the items that are not optional.
    std::pair<qint64, qint64> readiness() const;

    static QString focusKey() { return QStringLiteral("permissions.focus"); }
    static QString confirmedKey(const QString& id) { return QStringLiteral("permissions.confirmed.") + id; }

signals:
    void changed();

private:
    struct Observed {
        quint64 revision = 0;
        std::map<QString, PermissionStatus> statuses;
        std::map<QString, QString> errors;
        std::set<QString> confirmations;
        std::set<QString> returnedWithoutSuccess;
        std::optional<QString> focus;
        friend bool operator==(const Observed&, const Observed&) = default;
    };
    struct Monitor;

    void publish();
    void loadConfirmations();
    void copyError(const PermissionItem& item);
    void announceHandOff(const PermissionItem& item);
    void setFocus(const QString& id);
    void probe(std::size_t index, quint64 revision, std::vector<PermissionItem> items, std::stop_token stop);
    void finishRefresh();
    void monitorTick();

    QString appName_;
    PermissionStrings strings_;
    std::vector<PermissionItem> items_;
    QSettings& defaults_;
    OpenSettings openSettings_;
    AppRelauncher& relauncher_;

    std::map<QString, PermissionStatus> statuses_;
    std::map<QString, QString> errors_;
    // Items whose settings could not be opened, until they open.
    std::set<QString> openFailed_;
    std::set<QString> confirmations_;
    std::set<QString> returnedWithoutSuccess_;
    std::optional<QString> focusedItemID_;
    std::set<QString> requested_;
    std::set<QString> performing_;
    std::set<QString> pendingSettings_;
    bool refreshing_ = false;
    quint64 revision_ = 0;
    // Run when the refresh in progress ends.
    std::vector<Done> afterRefresh_;
    Observed published_;
    std::unique_ptr<Monitor> monitor_;
};

}  // namespace kelto
