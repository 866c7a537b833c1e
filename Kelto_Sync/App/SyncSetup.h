#pragma once

// A Qt header first: moc's parser stumbles over <concepts>.
#include <QObject>
#include <QPointer>
#include <QSettings>
#include <QString>
#include <QWidget>

#include "KeltoPermissions/PermissionSetupOutcome.h"

#include <functional>
#include <optional>

namespace kelto {

// The application's first-run setup: the launch gate that opens the
// permission checklist once the main window is shown and active, and the
// keys that record how the setup ended. GUI thread only.
class SyncSetup : public QObject {
    Q_OBJECT
public:
    static constexpr int currentVersion = 1;
    static inline const QString prefix = QStringLiteral("setup.checklist");
    static inline const QString onboardingDone = QStringLiteral("onboarding.done");

    // Shows the checklist, focused on an item, attached to a parent window.
    using Presenter = std::function<void(const std::optional<QString>& item, QWidget* parent)>;

    SyncSetup(QSettings& defaults, Presenter presenter, QObject* parent = nullptr);

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

    // Marks the setup in progress and shows the checklist.
    void present(const std::optional<QString>& item, QWidget* parent);
    // "Done" or "Set up later" (closing the checklist counts as later).
    void finish(PermissionSetupOutcome outcome);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QSettings& defaults_;
    Presenter presenter_;
    QPointer<QWidget> mainWindow_;
    bool gatePending_ = false;
};

}  // namespace kelto
