#include "Kelto_Sync/App/MainWindowHost.h"

#include "FenraCore/WindowPlacement.h"

#include <QEvent>

namespace kelto {

MainWindowHost::MainWindowHost(std::function<QWidget*()> makeWindow, std::function<void(QWidget&)> shown,
                               QObject* parent)
    : QObject(parent), makeWindow_(std::move(makeWindow)), shown_(std::move(shown)) {}

MainWindowHost::~MainWindowHost() { delete window_; }

void MainWindowHost::openMainWindow() {
    const bool fresh = window_.isNull();
    if (fresh) {
        window_ = makeWindow_();
        window_->setAttribute(Qt::WA_DeleteOnClose);
        window_->installEventFilter(this);
        WindowPlacement::follow(*window_);
    }
    if (window_->isMinimized()) window_->showNormal();
    window_->show();
    window_->raise();
    window_->activateWindow();
    if (fresh && shown_) shown_(*window_);
}

bool MainWindowHost::eventFilter(QObject* watched, QEvent* event) {
    // A closed window is already on its way out: opening again in the same
    // turn of the event loop must build a new one, not show the doomed one.
    // (A close held back for the window's job drafts never comes here: the
    // job list's filter, installed once the window shows, runs first.)
    if (watched == window_ && event->type() == QEvent::Close) window_.clear();
    return QObject::eventFilter(watched, event);
}

}  // namespace kelto
