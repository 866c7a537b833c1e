#include "Kelto_Sync/AlertBox.h"

#include "FenraCore/WindowPlacement.h"

#include <QApplication>

#include <QEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QScreen>
#include <QTextBoundaryFinder>
#include <QWindow>

#include <algorithm>
#include <cmath>

namespace kelto {
namespace {

// A title too long for the title bar leads the message whole; a word too
// long to fit a line would run off the alert, so it may break between its
// characters every so often (zero-width spaces, which show nothing).
QString breakableAnywhere(const QString& text) {
    constexpr int longestUnbroken = 20;
    QString out;
    QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, text);
    qsizetype from = 0;
    int run = 0;
    for (qsizetype at = characters.toNextBoundary(); at != -1; at = characters.toNextBoundary()) {
        const QString character = text.mid(from, at - from);
        run = character.front().isSpace() ? 0 : run + 1;
        if (run > longestUnbroken) {
            out += QChar(0x200B);
            run = 1;
        }
        out += character;
        from = at;
    }
    return out;
}

// In lines of text: the widest a text runs before it wraps (a sentence of
// seventy-odd characters fits).
constexpr int measureLines = 40;
// Beside its title a title bar holds the window's icon and up to four
// buttons (minimise, maximise, close, and a menu or shade where the window
// manager adds one), each about as wide as the bar is high, with some
// padding between: six of them leave the title its own room.
constexpr int titleBarControls = 6;

}  // namespace

AlertBox::AlertBox(QWidget* parent) : QMessageBox(parent != nullptr ? parent : QApplication::activeWindow()) {
    setIcon(QMessageBox::Warning);
    setTextFormat(Qt::PlainText);
    WindowPlacement::keepAsDialog(*this);
    WindowPlacement::follow(*this);
}

void AlertBox::present() { WindowPlacement::openSheet(*this); }

void AlertBox::setTitle(const QString& title) {
    setText(title);
    fit();
}

void AlertBox::setMessage(const QString& message) {
    message_ = message;
    showMessage();
    fit();
}

void AlertBox::showMessage() {
    const QString title = breakableAnywhere(wholeTitle_);
    const QString text = title.isEmpty()    ? message_
                         : message_.isEmpty() ? title
                                              : title + QLatin1Char('\n') + message_;
    if (text == informativeText()) return;
    setInformativeText(text);
    for (QLabel* label : findChildren<QLabel*>()) {
        if (label->text() == text) label->setTextFormat(Qt::PlainText);
    }
}

void AlertBox::showEvent(QShowEvent* event) {
    keepDestructiveFromDefault();
    QMessageBox::showEvent(event);
    fit();
}

void AlertBox::keepDestructiveFromDefault() {
    QPushButton* safe = nullptr;
    bool destructive = false;
    for (QAbstractButton* button : buttons()) {
        const ButtonRole role = buttonRole(button);
        if (role == DestructiveRole) {
            destructive = true;
        } else if (role == RejectRole && safe == nullptr) {
            safe = qobject_cast<QPushButton*>(button);
        }
    }
    if (!destructive) return;
    if (defaultButton() != nullptr && buttonRole(defaultButton()) != DestructiveRole) return;
    // Without a way back, nothing is the default.
    if (safe == nullptr) {
        for (QAbstractButton* button : buttons()) {
            if (auto* push = qobject_cast<QPushButton*>(button)) {
                push->setDefault(false);
                push->setAutoDefault(false);
            }
        }
        return;
    }
    setDefaultButton(safe);
    if (escapeButton() == nullptr) setEscapeButton(safe);
}

void AlertBox::changeEvent(QEvent* event) {
    QMessageBox::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange ||
        event->type() == QEvent::WindowTitleChange) {
        fit();
    }
    // The symbol is drawn in the theme's colour for the look it is shown in.
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange) setIcon(icon());
}

bool AlertBox::event(QEvent* event) {
    const bool handled = QMessageBox::event(event);
    // The box sizes itself again, from its own measure, on a layout request
    // (on a real screen one comes once it is shown), on a new text and on a
    // change of the application's font or look, after what fit() chose:
    // whatever makes it narrower than its texts is undone.
    // A move also comes once the window manager frames it, with its title bar.
    if (event->type() == QEvent::LayoutRequest || event->type() == QEvent::Resize || event->type() == QEvent::Move) {
        fit();
    }
    return handled;
}

void AlertBox::fit() {
    // The message box fixes its own size as it shows and on every new text;
    // this widens what it chose. A new message below sizes it again.
    if (!isVisible() || layout() == nullptr || fitting_) return;
    const QScopedValueRollback<bool> once(fitting_, true);
    const QFontMetrics metrics(font());
    const int line = metrics.height();
    // The screen's free width, less the window manager's frame once it is framed.
    const QMargins frame = WindowPlacement::frameOf(*this);
    const int room = screen()->availableGeometry().width() - frame.left() - frame.right();
    // Window managers draw the title in a bold face of about the
    // application's size (openbox's default theme does); the bar is as high
    // as the frame's top once the window manager has framed the box, and
    // never lower than the title's line with its padding.
    QFont titleFont = font();
    titleFont.setBold(true);
    const QFontMetrics titleMetrics(titleFont);
    const int bar = std::max(frame.top(), line * 3 / 2);
    const int controls = titleBarControls * bar;
    const QString title = windowTitle().isEmpty() ? QGuiApplication::applicationDisplayName() : windowTitle();
    const bool shortened = titleMetrics.horizontalAdvance(title) + controls > room;
    const QString shown = shortened ? titleMetrics.elidedText(title, Qt::ElideMiddle, room - controls) : windowTitle();
    if (QWindow* handle = windowHandle(); handle != nullptr && handle->title() != shown) handle->setTitle(shown);
    wholeTitle_ = shortened ? title : QString();
    showMessage();

    // A new text may have rebuilt the layout: place the labels first.
    layout()->activate();
    int textWidth = 0;
    int textLeft = 0;
    for (const QLabel* label : findChildren<QLabel*>()) {
        // A label the box has just made is shown on the next turn of the event loop.
        if (label->text().isEmpty() || (label->isHidden() && label->testAttribute(Qt::WA_WState_ExplicitShowHide))) {
            continue;
        }
        // Whole pixels up: a word-wrapped label one fraction of a pixel
        // narrower than its text breaks its last word onto a line of its own.
        const int advance = static_cast<int>(std::ceil(QFontMetricsF(label->font()).horizontalAdvance(label->text())));
        const int width = std::min(advance, measureLines * line);
        textWidth = std::max(textWidth, width);
        textLeft = std::max(textLeft, label->x());
    }
    const int right = layout()->contentsMargins().right();
    const int titleWidth = titleMetrics.horizontalAdvance(shown.isEmpty() ? title : shown) + controls;
    // As wide as the message box chose, or its texts need, but never wider than its screen.
    const int wanted = std::min(std::max({textLeft + textWidth + right, titleWidth, width()}), room);
    if (wanted == width()) return;
    const int height = layout()->hasHeightForWidth() ? layout()->totalHeightForWidth(wanted)
                                                     : layout()->totalMinimumSize().height();
    // Placed before it grew, it is centred again on its window (or where it
    // stood), within the free area.
    const QWidget* owner = parentWidget() != nullptr ? parentWidget()->window() : nullptr;
    const QRect over = WindowPlacement::outerOf(owner != nullptr && owner->isVisible() ? *owner : *this);
    const QSize grown = QSize(wanted, height).grownBy(frame);
    setFixedSize(wanted, height);
    const QRect placed = WindowPlacement::centred(grown, over, WindowPlacement::freeArea(*this));
    WindowPlacement::moveOuterTo(*this, placed.topLeft());
}

}  // namespace kelto
