#include "Kelto_Sync/Settings/SyncSettingsWindowController.h"

#include "FenraMac/SettingsWindowConfigurator.h"
#include "Kelto_Sync/Settings/SettingsView.h"

#include <QAction>
#include <QGuiApplication>
#include <QKeySequence>
#include <QScreen>
#include <QSettings>
#include <QStyle>
#include <QVBoxLayout>
#include <QWidget>

namespace kelto {

SyncSettingsWindowController::SyncSettingsWindowController(Updater& updater, SyncStrings strings,
                                                           SettingsViewActions actions, Present present,
                                                           QObject* parent)
    : QObject(parent),
      updater_(updater),
      strings_(std::move(strings)),
      actions_(std::move(actions)),
      present_(std::move(present)) {}

SyncSettingsWindowController::~SyncSettingsWindowController() = default;

void SyncSettingsWindowController::show() {
    if (window_ == nullptr) {
        window_ = std::make_unique<QWidget>();
        view_ = new SettingsView(updater_, strings_, actions_, window_.get());
        auto* layout = new QVBoxLayout(window_.get());
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(view_);
        window_->setWindowTitle(strings_.text(QStringLiteral("Kelto Sync Settings"), window_->locale()));
        // A plain widget is never deleted on close: closing hides it.
        window_->setAttribute(Qt::WA_DeleteOnClose, false);
        auto* close = new QAction(window_.get());
        close->setObjectName(QStringLiteral("closeWindow"));
        close->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_W));
        connect(close, &QAction::triggered, window_.get(), &QWidget::close);
        window_->addAction(close);
        const bool saved = QSettings().contains(SettingsWindowConfigurator::geometryKey(autosaveName));
        SettingsWindowConfigurator::configure(*window_, autosaveName);
        if (!saved) {
            if (const QScreen* screen = QGuiApplication::primaryScreen()) {
                window_->setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, window_->size(),
                                                         screen->availableGeometry()));
            }
        }
    }
    present_(*window_);
}

void SyncSettingsWindowController::presentWindow(QWidget& window) {
    window.show();
    window.raise();
    window.activateWindow();
}

}  // namespace kelto
