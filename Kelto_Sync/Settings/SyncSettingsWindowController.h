#pragma once

#include "Kelto_Sync/Settings/SettingsViewActions.h"
#include "Kelto_Sync/SyncStrings.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

class QWidget;

namespace kelto {

class SettingsView;
class Updater;

// Makes the one settings window on first use and brings it forward on every
// request. Closing only hides it, so the pane and the view's state stay for
// the life of the process.
class SyncSettingsWindowController : public QObject {
    Q_OBJECT

public:
    static inline const QString autosaveName = QStringLiteral("KeltoSyncSettings");
    // Shows, raises and activates the window.
    using Present = std::function<void(QWidget& window)>;

    SyncSettingsWindowController(Updater& updater, SyncStrings strings, SettingsViewActions actions,
                                 Present present = &SyncSettingsWindowController::presentWindow,
                                 QObject* parent = nullptr);
    ~SyncSettingsWindowController() override;

    void show();
    QWidget* window() const { return window_.get(); }
    SettingsView* view() const { return view_; }

    static void presentWindow(QWidget& window);

private:
    Updater& updater_;
    SyncStrings strings_;
    SettingsViewActions actions_;
    Present present_;
    std::unique_ptr<QWidget> window_;
    SettingsView* view_ = nullptr;
};

}  // namespace kelto
