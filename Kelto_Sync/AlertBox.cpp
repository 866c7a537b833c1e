#include "Kelto_Sync/AlertBox.h"

#include "FenraCore/WindowPlacement.h"

#include <QApplication>

#include <QEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QLayout>
#include <QPushButton>

#include <algorithm>
#include <cmath>

namespace kelto {
namespace {

// In lines of text: the widest a message runs before it wraps, and the
// widest an alert grows for its window title (a longer title is cut by the
// window manager).
constexpr int measureLines = 24;
constexpr int titleMeasureLines = 40;
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
    setInformativeText(message);
    for (QLabel* label : findChildren<QLabel*>()) {
        if (label->text() == message) label->setTextFormat(Qt::PlainText);
    }
    fit();
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
    // this widens what it chose.
    if (!isVisible() || layout() == nullptr) return;
    // A new text may have rebuilt the layout: place the labels first.
    layout()->activate();
    const QFontMetrics metrics(font());
    const int line = metrics.height();
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
    const QString title = windowTitle().isEmpty() ? QGuiApplication::applicationDisplayName() : windowTitle();
    const int right = layout()->contentsMargins().right();
    // Window managers draw the title in a bold face of about the
    // application's size (openbox's default theme does); the bar is as high
    // as the frame's top once the window manager has framed the box, and
    // never lower than the title's line with its padding.
    QFont titleFont = font();
    titleFont.setBold(true);
    const int bar = std::max(geometry().top() - frameGeometry().top(), line * 3 / 2);
    const int titleWidth = std::min(QFontMetrics(titleFont).horizontalAdvance(title) + titleBarControls * bar,
                                    titleMeasureLines * line);
    const int wanted = std::max(textLeft + textWidth + right, titleWidth);
    if (wanted <= width()) return;
    const int height = layout()->hasHeightForWidth() ? layout()->totalHeightForWidth(wanted)
                                                     : layout()->totalMinimumSize().height();
    setFixedSize(wanted, height);
}

}  // namespace kelto
