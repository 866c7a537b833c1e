#pragma once

// A Qt header first: moc's parser stumbles over <concepts>.
#include <QObject>
#include <QPointer>
#include <QWidget>

#include "Kelto_Sync/App/SyncMenuLifecycle.h"

#include <functional>

namespace kelto {

// Builds the main window when none is open (it is destroyed on close),
// shows it and makes it active.
class MainWindowHost : public QObject, public MainWindowOpening {
    Q_OBJECT
public:
    // `makeWindow` builds a new main window; `shown` hears of each new one.
    MainWindowHost(std::function<QWidget*()> makeWindow, std::function<void(QWidget&)> shown,
                   QObject* parent = nullptr);
    ~MainWindowHost() override;

    void openMainWindow() override;
    // The open main window; none from the moment it is closed, though its
    // deletion waits for the event loop.
    QWidget* window() const { return window_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::function<QWidget*()> makeWindow_;
    std::function<void(QWidget&)> shown_;
    QPointer<QWidget> window_;
};

}  // namespace kelto
