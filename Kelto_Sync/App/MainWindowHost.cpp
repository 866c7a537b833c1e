#include "Kelto_Sync/App/MainWindowHost.h"

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
    }
    if (window_->isMinimized()) window_->showNormal();
    window_->show();
    window_->raise();
    window_->activateWindow();
    if (fresh && shown_) shown_(*window_);
}

}  // namespace kelto
