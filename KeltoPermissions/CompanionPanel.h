#pragma once

// A Qt header first: moc's parser stumbles over <concepts>.
#include <QObject>
#include <QPointer>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include "KeltoPermissions/CompanionLayout.h"
#include "KeltoPermissions/PermissionChecklist.h"
#include "Platform/Desktop/SettingsWindowGeometry.h"
#include "Platform/Desktop/WorkspaceEvents.h"

#include <chrono>
#include <functional>
#include <optional>

class QWidget;

namespace kelto {

class CompanionContent;

// The small floating panel that stands beside the settings window while the
// user grants one item: it follows that window, hides while the settings
// are not in front, closes a second after the grant is seen and when the
// settings program exits. Log lines go to "KeltoPermissions.companion".
// GUI thread only.
class CompanionPanel : public QObject {
    Q_OBJECT
public:
    using Duration = std::chrono::milliseconds;

    struct Dependencies {
        // The program of the active window, lower case.
        std::function<std::optional<QString>()> frontmostProgram;
        std::function<std::optional<SettingsWindowGeometry::Geometry>()> geometry;
        std::function<std::optional<QRectF>()> mainVisibleFrame;
        // Calls `wake` after the delay unless the panel is gone by then.
        std::function<void(Duration delay, QObject* context, std::function<void()> wake)> sleep;
        std::function<void(QWidget&)> present;
        std::function<void(QWidget&)> dismiss;
        QPointer<WorkspaceEvents> workspace;
        // Whether a program (as frontmostProgram names it) is the settings;
        // the desktops' settings programs when unset.
        std::function<bool(const QString& program)> isSettings;
        // Asked when a companion is wanted: false leaves the checklist on
        // screen instead. Always when unset.
        std::function<bool()> available;

        // The desktop's own: the settings are whatever the settings opener
        // started, and the companion is available where the desktop lists
        // windows.
        static std::optional<Dependencies> system();
    };

    static constexpr Duration shownStep{200};
    static constexpr Duration idleStep{500};
    static constexpr Duration grantedDelay{1000};
    static constexpr qreal gap = 12;

    CompanionPanel(PermissionChecklist& checklist, PermissionItem item, std::function<void()> onBack,
                   std::function<void(bool)> visibilityChanged, Dependencies dependencies, QObject* parent = nullptr);
    ~CompanionPanel() override;

    void start();
    // Ends the panel for good.
    void close(const QString& reason);

    void workspaceActivated();
    void workspaceTerminated(const QString& program);
    // Places or hides the panel; the delay before the next step.
    Duration positionStep();

    bool isShowing() const { return showing_; }
    bool isFinished() const { return finished_; }
    QWidget* window() const { return panel_; }
    CompanionContent* content() const { return content_; }
    QSizeF preferredSize() const { return preferredSize_; }
    const PermissionItem& item() const { return item_; }

    bool isSettings(const std::optional<QString>& program) const;

private:
    void setShowing(bool shown, const QString& reason);
    void statusChanged(PermissionStatus status);
    void checklistChanged();
    void schedule(Duration delay);
    void fit();

    PermissionChecklist& checklist_;
    PermissionItem item_;
    std::function<void()> onBack_;
    std::function<void(bool)> visibilityChanged_;
    Dependencies dependencies_;
    QPointer<QWidget> panel_;
    CompanionContent* content_ = nullptr;
    // A wake from a step or a confirmation that was cancelled since is
    // ignored: its ticket is stale.
    quint64 positionTicket_ = 0;
    quint64 confirmationTicket_ = 0;
    bool showing_ = false;
    bool finished_ = false;
    QSizeF preferredSize_;
    std::optional<QString> lastFrontmost_;
    std::optional<QString> lastGeometrySource_;
    PermissionStatus lastStatus_ = PermissionStatus::checking;
};

}  // namespace kelto
