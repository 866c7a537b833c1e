#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

class QWidget;

namespace kelto {

// Keeps the sidebar toggle out of a settings window's toolbars for as long as
// the window lives, so that nothing can hide the settings sidebar: every
// toolbar action named `sidebarToggleName` goes at once, and again on the
// event-loop turn after any action is added to a toolbar of the window.
// Toolbars of other windows are left alone. The window owns its policy.
class SettingsToolbarPolicy : public QObject {
    Q_OBJECT

public:
    // The object name that marks a toolbar action as the sidebar toggle.
    static QString sidebarToggleName();

    explicit SettingsToolbarPolicy(QWidget& window);
    ~SettingsToolbarPolicy() override;

    QWidget* window() const { return window_; }
    void removeSidebarToggle();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QWidget> window_;
};

}  // namespace kelto
