#include "Kelto_Sync/Tray/TrayPresence.h"

#include "FenraCore/WindowPlacement.h"
#include "Kelto_Sync/Tray/MenuBarContent.h"
#include "Platform/Desktop/DesktopCompositor.h"

#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QKeySequence>
#include <QLocale>
#include <QPainterPath>
#include <QRegion>
#include <QScreen>
#include <QVBoxLayout>


namespace kelto {
namespace {

void call(const std::function<void()>& action) {
    if (action) action();
}

}  // namespace

TrayPresence::TrayPresence(TrayActions actions, ContentFactory makeContent, SyncStrings strings, QObject* parent)
    : QObject(parent), actions_(std::move(actions)), makeContent_(std::move(makeContent)),
      menu_(std::make_unique<QMenu>()) {
    const QLocale locale;
    menu_->addAction(strings.text(QStringLiteral("Open Kelto Sync…"), locale), this,
                     [this] { call(actions_.openMainWindow); });
    menu_->addAction(strings.text(QStringLiteral("Sync all"), locale), this, [this] { call(actions_.syncAll); });
    menu_->addAction(strings.text(QStringLiteral("Settings…"), locale), this, [this] { call(actions_.showSettings); });
    menu_->addSeparator();
    QAction* quit = menu_->addAction(strings.text(QStringLiteral("Quit"), locale), this, [this] { call(actions_.quit); });
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));

    icon_.setToolTip(strings.text(QStringLiteral("Kelto Sync"), locale));
    icon_.setContextMenu(menu_.get());
    connect(&icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger) togglePopup();
    });
}

TrayPresence::~TrayPresence() {
    delete popup_.data();
}

bool TrayPresence::show() {
    icon_.show();
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void TrayPresence::togglePopup() {
    if (popup_) {
        popup_->close();
        return;
    }
    auto* popup = new QWidget(nullptr, Qt::Popup | Qt::FramelessWindowHint);
    shapedRadius_.reset();
    popup->setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(popup);
    layout->setContentsMargins(0, 0, 0, 0);
    // The content grows and shrinks with its jobs; the popup follows it.
    layout->setSizeConstraint(QLayout::SetFixedSize);
    const QRect geometry = icon_.geometry();
    const QRect anchor = geometry.isValid() && !geometry.isEmpty() ? geometry : QRect(QCursor::pos(), QSize(1, 1));
    const QScreen* screen = QGuiApplication::screenAt(anchor.center());
    if (screen == nullptr) screen = QGuiApplication::primaryScreen();
    anchor_ = anchor;
    screenArea_ = screen != nullptr ? screen->availableGeometry() : QRect();
    if (makeContent_) {
        if (QWidget* content = makeContent_()) {
            if (auto* menu = qobject_cast<MenuBarContent*>(content)) {
                // Many jobs would take the commands past the screen's edge.
                if (screenArea_.isValid()) menu->setHeightLimit(WindowPlacement::roomBeside(anchor_, screenArea_));
                // Its surface is a rounded rectangle: where the desktop
                // composites windows the corners outside it are clear;
                // elsewhere the window itself takes that shape.
                shapedRadius_ = MenuBarContent::surfaceRadius;
                if (DesktopCompositor::active()) {
                    popup->setAttribute(Qt::WA_TranslucentBackground);
                    shapedRadius_.reset();
                }
            }
            layout->addWidget(content);
        }
    }
    popup->adjustSize();
    popup->move(popupPosition(anchor_, popup->size(), screenArea_));
    popup_ = popup;
    // Jobs added or removed while it is open change its height.
    popup->installEventFilter(this);
    popup->show();
    emit popupOpened();
}

bool TrayPresence::eventFilter(QObject* watched, QEvent* event) {
    if (watched == popup_ && event->type() == QEvent::Resize) {
        popup_->move(popupPosition(anchor_, popup_->size(), screenArea_));
        if (shapedRadius_) {
            QPainterPath outline;
            outline.addRoundedRect(QRectF(popup_->rect()), *shapedRadius_, *shapedRadius_);
            popup_->setMask(QRegion(outline.toFillPolygon().toPolygon()));
        }
    }
    return QObject::eventFilter(watched, event);
}

QPoint TrayPresence::popupPosition(const QRect& anchor, const QSize& size, const QRect& screen) {
    return WindowPlacement::beside(anchor, size, screen).topLeft();
}

}  // namespace kelto
