#pragma once

// A Qt header first: moc's parser stumbles over <concepts>.
#include <QEvent>
#include <QObject>
#include <QPointer>
#include <QString>

#include "KeltoPermissions/CompanionPanel.h"
#include "KeltoPermissions/PermissionChecklist.h"
#include "KeltoPermissions/PermissionSetupOutcome.h"

#include <functional>
#include <optional>

class QWidget;

namespace kelto {

// Owns the checklist window of the permission setup: shows it, steps it
// aside for the companion panel while the user is in the settings, brings
// it back when the user returns, keeps the checklist's monitoring running
// only while the window or the companion can be seen, and ends the flow
// with one outcome. Where the desktop lists no windows there is no
// companion: a hand-off leaves the checklist on screen. GUI thread only.
class PermissionSetupController : public QObject {
    Q_OBJECT
public:
    using MakeView = std::function<QWidget*(PermissionSetupController&)>;
    using WindowAction = std::function<void(QWidget&)>;

    static constexpr int screenMargin = 24;

    // `checklist` must outlive the controller. `present` shows the window
    // in front of the user; `dismiss` hides it without closing it.
    PermissionSetupController(PermissionChecklist& checklist, MakeView makeView, QString windowTitle,
                              std::function<void(PermissionSetupOutcome)> onFinish, WindowAction present,
                              WindowAction dismiss, QObject* parent = nullptr);
    ~PermissionSetupController() override;

    // The desktop's own by default; nothing turns the companion off.
    void setCompanionDependencies(std::optional<CompanionPanel::Dependencies> dependencies);

    void show(const std::optional<QString>& focusing = std::nullopt);
    void finish(PermissionSetupOutcome outcome);

    // Events of the checklist window; the window's own events lead here.
    void windowWillClose();
    void windowDidMiniaturize();
    void windowDidDeminiaturize();
    void windowDidChangeOcclusionState();
    void applicationDidBecomeActive();
    void applicationDidResignActive();

    QWidget* window() const { return window_; }
    CompanionPanel* companion() const { return companion_; }
    bool isVisible() const { return visible_; }
    bool isCompanionVisible() const { return companionVisible_; }
    bool restoresOnActivation() const { return restoreOnActivation_; }

    // The tallest the window's content may be on a screen of that
    // available height.
    static int heightCap(int availableHeight);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void handOff(const PermissionItem& item);
    void restoreChecklist(const QString& reason);
    void teardown();
    void updateMonitoring();
    void closeCompanion(const QString& reason);
    void createWindow();
    // The window as tall as the view asks, up to the screen; once the user
    // has reached the shown window, as tall as it was then until hidden.
    void fitWindow();
    // Input by which the user reaches the window.
    static bool reaches(QEvent::Type type);
    void watchWindow(bool on);

    PermissionChecklist& checklist_;
    MakeView makeView_;
    QString windowTitle_;
    std::function<void(PermissionSetupOutcome)> onFinish_;
    WindowAction present_;
    WindowAction dismiss_;
    std::optional<CompanionPanel::Dependencies> companionDependencies_;
    QPointer<QWidget> window_;
    // The height the shown window keeps since the user reached it.
    std::optional<int> keptHeight_;
    QPointer<QWidget> view_;
    QPointer<CompanionPanel> companion_;
    bool restoreOnActivation_ = false;
    bool visible_ = false;
    bool companionVisible_ = false;
};

}  // namespace kelto
