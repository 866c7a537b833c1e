#include "FenraCore/WindowPlacement.h"

#include "Platform/Desktop/WindowFrame.h"

#include <QDialog>
#include <QEvent>
#include <QGuiApplication>
#include <QMargins>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <optional>

namespace kelto {
namespace {

QWidget* parentWindow(const QWidget& window) {
    return window.parentWidget() != nullptr ? window.parentWidget()->window() : nullptr;
}

bool knownFrame(const QMargins& margins) {
    return margins.left() >= 0 && margins.top() >= 0 && margins.right() >= 0 && margins.bottom() >= 0;
}

int clampedStart(int start, int length, int freeStart, int freeLength) {
    return std::clamp(start, freeStart, freeStart + std::max(0, freeLength - length));
}

class Placer : public QObject {
public:
    explicit Placer(QWidget& window) : QObject(&window), window_(window) { window.installEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == owner_ || (watched != nullptr && watched == ownerHandle_)) {
            // A window that belongs to another stays over it as that one
            // is placed, framed (which may come only with its exposure) or
            // moved.
            const bool moved = event->type() == QEvent::Move || event->type() == QEvent::Resize ||
                               event->type() == QEvent::Expose;
            if (moved && window_.isVisible() && owner_ != nullptr && owner_->isVisible()) place();
            return false;
        }
        if (watched == handle_) {
            if (event->type() == QEvent::Expose) placeIfFrameChanged();
            return false;
        }
        if (watched != &window_) return false;
        switch (event->type()) {
        case QEvent::Show:
            watchOwner();
            watchHandle();
            place();
            break;
        case QEvent::Move:
        case QEvent::Resize:
            placeIfFrameChanged();
            break;
        default:
            break;
        }
        return false;
    }

private:
    // Until the window manager has framed it, the frame is a guess; once it
    // is known, or changes, the window is placed again. The frame can arrive
    // with a move, a resize or only with the window's exposure, in any order.
    void placeIfFrameChanged() {
        // A maximised or full-screen window is the window manager's to place.
        if ((window_.windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen | Qt::WindowMinimized)) != 0) return;
        if (!window_.isVisible()) return;
        const QMargins frame = WindowPlacement::frameOf(window_);
        if (!frame.isNull() && frame != placedFrame_) place();
    }

    void watchOwner() {
        QWidget* owner = parentWindow(window_);
        QWindow* handle = owner != nullptr ? owner->windowHandle() : nullptr;
        if (owner == owner_ && handle == ownerHandle_) return;
        if (owner_ != nullptr) owner_->removeEventFilter(this);
        if (ownerHandle_ != nullptr) ownerHandle_->removeEventFilter(this);
        owner_ = owner;
        ownerHandle_ = handle;
        if (owner != nullptr) owner->installEventFilter(this);
        if (handle != nullptr) handle->installEventFilter(this);
    }

    void watchHandle() {
        QWindow* handle = window_.windowHandle();
        if (handle == handle_) return;
        if (handle_ != nullptr) handle_->removeEventFilter(this);
        handle_ = handle;
        if (handle != nullptr) handle->installEventFilter(this);
    }

    void place() {
        // What it belongs to: its parent window, or the window the window
        // manager keeps it above.
        QRect over;
        QMargins ownerFrame;
        const QWidget* parent = parentWindow(window_);
        const QWindow* transient = window_.windowHandle() != nullptr ? window_.windowHandle()->transientParent() : nullptr;
        if (parent != nullptr && parent->isVisible()) {
            ownerFrame = WindowPlacement::frameOf(*parent);
            over = parent->geometry().marginsAdded(ownerFrame);
        } else if (transient != nullptr && transient->isVisible()) {
            const QMargins qtFrame = knownFrame(transient->frameMargins()) ? transient->frameMargins() : QMargins();
            ownerFrame = WindowFrame::extents(*transient).value_or(qtFrame);
            over = transient->geometry().marginsAdded(ownerFrame);
        }
        // Before its own frame is known, its owner's is the best guess.
        placedFrame_ = WindowPlacement::frameOf(window_);
        QMargins frame = placedFrame_;
        if (frame.isNull()) frame = ownerFrame;
        const QSize outer = window_.size().grownBy(frame);
        // A window of its own keeps a place it was given (a saved frame), or
        // else starts in the middle of the free area.
        if (over.isEmpty() && window_.testAttribute(Qt::WA_Moved)) over = QRect(window_.pos(), outer);
        const QRect target = WindowPlacement::centred(outer, over, WindowPlacement::freeArea(window_));
        const QSize client = target.size().shrunkBy(frame);
        if (client.width() < window_.width() || client.height() < window_.height()) {
            const QSize fitted = window_.size().boundedTo(client);
            window_.setMinimumSize(window_.minimumSize().boundedTo(fitted));
            window_.resize(fitted);
        }
        WindowPlacement::moveOuterTo(window_, target.topLeft());
    }

    QWidget& window_;
    QPointer<QWidget> owner_;
    QPointer<QWindow> ownerHandle_;
    QPointer<QWindow> handle_;
    QMargins placedFrame_;
};

// Brings a sheet opened before its window was on screen back over that
// window once it is: Qt gives a window a transient parent only if the
// parent's native window exists when its own is made, and a window manager
// stacks a dialog without one as a window of its own, below the window
// shown after it.
class SheetRestacker : public QObject {
public:
    // `owner` is the sheet's window as it is now; the widget holding the
    // sheet may be placed into another window before that is shown.
    SheetRestacker(QDialog& sheet, QWidget& owner) : QObject(&sheet), sheet_(&sheet), owner_(&owner) {
        // Already being shown: its children are shown before it is.
        if (owner.isVisible()) awaitExposure();
        else owner.installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == owner_ && event->type() == QEvent::Show) {
            owner_->removeEventFilter(this);
            awaitExposure();
        } else if (watched == handle_ && event->type() == QEvent::Expose && handle_->isExposed()) {
            handle_->removeEventFilter(this);
            restackLater();
        }
        return false;
    }

private:
    QWidget* window() const { return sheet_ && sheet_->parentWidget() ? sheet_->parentWidget()->window() : nullptr; }

    // The window's native window exists once it is shown; the window
    // system shows it a little later.
    void awaitExposure() {
        QWidget* shown = window();
        if (shown == nullptr || shown->windowHandle() == nullptr) {
            deleteLater();
            return;
        }
        if (shown->windowHandle()->isExposed()) {
            restackLater();
            return;
        }
        handle_ = shown->windowHandle();
        handle_->installEventFilter(this);
    }

    void restackLater() {
        QPointer<QDialog> sheet = sheet_;
        deleteLater();
        QTimer::singleShot(0, sheet, [sheet] {
            if (!sheet || !sheet->parentWidget()) return;
            QWidget* window = sheet->parentWidget()->window();
            if (window->windowHandle() == nullptr) return;
            sheet->winId();
            sheet->windowHandle()->setTransientParent(window->windowHandle());
            if (!sheet->isVisible()) return;
            // Shown again, it is mapped as the window's dialog, over it.
            sheet->hide();
            sheet->show();
            sheet->raise();
            sheet->activateWindow();
        });
    }

    QPointer<QDialog> sheet_;
    QPointer<QWidget> owner_;
    QPointer<QWindow> handle_;
};

// Keeps the keyboard with an open sheet: when the window system activates
// the window the sheet blocks (a window restored from a notification or
// the tray, or its own activation request answered before the sheet is
// mapped again), Qt takes that window as the one keys go to and drops them,
// as it drops every key to a blocked window. The sheet is activated in its
// place, at once or, while it is not on screen, once it is.
class SheetKeyboard : public QObject {
public:
    explicit SheetKeyboard(QDialog& sheet) : QObject(&sheet), sheet_(sheet) {
        connect(qGuiApp, &QGuiApplication::focusWindowChanged, this, [this](QWindow* focus) {
            if (focus != nullptr && blocked(*focus)) takeKeyboard();
        });
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        QWindow* handle = sheet_.windowHandle();
        if (watched == handle && event->type() == QEvent::Expose && handle->isExposed()) {
            handle->removeEventFilter(this);
            const QWindow* focus = QGuiApplication::focusWindow();
            if (focus != nullptr && blocked(*focus)) takeKeyboard();
        }
        return false;
    }

private:
    // Whether `window` is one the open sheet keeps keys from.
    bool blocked(const QWindow& window) const {
        const QWidget* owner = parentWindow(sheet_);
        return sheet_.isVisible() && sheet_.isModal() && owner != nullptr && owner->windowHandle() == &window;
    }

    void takeKeyboard() {
        QWindow* handle = sheet_.windowHandle();
        if (handle == nullptr) return;
        if (!handle->isExposed()) {
            handle->installEventFilter(this);
            return;
        }
        QTimer::singleShot(0, this, [this] {
            const QWindow* focus = QGuiApplication::focusWindow();
            if (focus == nullptr || !blocked(*focus)) return;
            sheet_.raise();
            sheet_.activateWindow();
        });
    }

    QDialog& sheet_;
};

}  // namespace

QMargins WindowPlacement::frameOf(const QWidget& window) {
    // Read from the window system where it can tell: Qt's copy can be stale.
    if (const QWindow* handle = window.windowHandle(); handle != nullptr && window.internalWinId() != 0) {
        if (const std::optional<QMargins> extents = WindowFrame::extents(*handle)) return *extents;
    }
    const QRect frame = window.frameGeometry();
    const QRect client = window.geometry();
    const QMargins margins{client.left() - frame.left(), client.top() - frame.top(), frame.right() - client.right(),
                           frame.bottom() - client.bottom()};
    return knownFrame(margins) ? margins : QMargins();
}

QRect WindowPlacement::outerOf(const QWidget& window) { return window.geometry().marginsAdded(frameOf(window)); }

void WindowPlacement::moveOuterTo(QWidget& window, QPoint topLeft) {
    // Qt moves a window's frame by its own copy of the frame: aim its client
    // area instead.
    const QMargins frame = frameOf(window);
    const QPoint qtFrame = window.geometry().topLeft() - window.frameGeometry().topLeft();
    window.move(topLeft + QPoint(frame.left(), frame.top()) - qtFrame);
}

QRect WindowPlacement::freeArea(const QWidget& window) {
    const QWidget* parent = parentWindow(window);
    const QScreen* screen = parent != nullptr && parent->isVisible() ? parent->screen() : window.screen();
    if (screen == nullptr) screen = QGuiApplication::primaryScreen();
    return screen != nullptr ? screen->availableGeometry() : QRect();
}

QRect WindowPlacement::centred(QSize size, const QRect& over, const QRect& free) {
    if (!free.isValid()) {
        const QRect around = over.isEmpty() ? QRect(QPoint(0, 0), size) : over;
        return QRect(QPoint(around.x() + (around.width() - size.width()) / 2,
                            around.y() + (around.height() - size.height()) / 2),
                     size);
    }
    size = size.boundedTo(free.size());
    const QRect around = over.isEmpty() ? free : over;
    const int x = around.x() + (around.width() - size.width()) / 2;
    const int y = around.y() + (around.height() - size.height()) / 2;
    return {clampedStart(x, size.width(), free.x(), free.width()), clampedStart(y, size.height(), free.y(), free.height()),
            size.width(), size.height()};
}

namespace {

struct Sides {
    int belowTop;
    int roomBelow;
    int aboveBottom;
    int roomAbove;
};

Sides sidesOf(const QRect& anchor, const QRect& free) {
    const int belowTop = std::max(anchor.bottom() + 1, free.top());
    const int aboveBottom = std::min(anchor.top(), free.bottom() + 1);
    return {belowTop, std::max(0, free.bottom() + 1 - belowTop), aboveBottom, std::max(0, aboveBottom - free.top())};
}

}  // namespace

int WindowPlacement::roomBeside(const QRect& anchor, const QRect& free) {
    const Sides sides = sidesOf(anchor, free);
    return std::max(sides.roomBelow, sides.roomAbove);
}

QRect WindowPlacement::beside(const QRect& anchor, QSize size, const QRect& free) {
    if (!free.isValid()) return {QPoint(anchor.center().x() - size.width() / 2, anchor.bottom() + 1), size};
    const Sides sides = sidesOf(anchor, free);
    const bool below = size.height() <= sides.roomBelow || sides.roomBelow >= sides.roomAbove;
    size = size.boundedTo(QSize(free.width(), below ? sides.roomBelow : sides.roomAbove));
    const int x = clampedStart(anchor.center().x() - size.width() / 2, size.width(), free.x(), free.width());
    const int y = below ? sides.belowTop : sides.aboveBottom - size.height();
    return {x, y, size.width(), size.height()};
}

void WindowPlacement::follow(QWidget& window) {
    for (QObject* child : window.children()) {
        if (dynamic_cast<Placer*>(child) != nullptr) return;
    }
    new Placer(window);
}

void WindowPlacement::keepAsDialog(QWidget& window) {
    const Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;
    if (window.windowFlags() == flags) return;
    // New flags take effect by hiding the window.
    const bool visible = window.isVisible();
    window.setWindowFlags(flags);
    if (visible) window.show();
}

void WindowPlacement::openSheet(QDialog& sheet) {
    keepAsDialog(sheet);
    follow(sheet);
    sheet.setWindowModality(Qt::WindowModal);
    QWidget* owner = parentWindow(sheet);
    const bool onScreen = owner == nullptr || (owner->isVisible() && owner->windowHandle() != nullptr &&
                                               owner->windowHandle()->isExposed());
    if (!onScreen) new SheetRestacker(sheet, *owner);
    const QObjectList& children = sheet.children();
    if (std::none_of(children.begin(), children.end(),
                     [](QObject* child) { return dynamic_cast<SheetKeyboard*>(child) != nullptr; })) {
        new SheetKeyboard(sheet);
    }
    sheet.open();
}

}  // namespace kelto
