#include "Kelto_Sync/internal/NameField.h"

#include "FenraCore/PaletteTone.h"

#include <QFocusEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>

namespace kelto {
namespace {

// The space QLineEdit keeps between its contents rectangle and its text.
constexpr int horizontalMargin = 2;
constexpr int verticalMargin = 1;

}  // namespace

NameField::NameField(QWidget* parent) : QLineEdit(parent) {
    // Locked while its job runs, the field is the style's disabled one: it
    // takes no focus and no keys, and its field steps back into the window
    // around it, so nothing invites typing. The name on it still reads as
    // a label does, not in the faint colour of a placeholder.
    PaletteTone::apply(
        this,
        [](const QPalette& inherited, QPalette::ColorGroup group) {
            return group == QPalette::Disabled ? inherited.color(QPalette::Active, QPalette::WindowText)
                                               : inherited.color(group, QPalette::Text);
        },
        QPalette::Text);
    PaletteTone::apply(
        this,
        [](const QPalette& inherited, QPalette::ColorGroup group) {
            return inherited.color(group, group == QPalette::Disabled ? QPalette::Window : QPalette::Base);
        },
        QPalette::Base);
}

QRect NameField::textArea() const {
    QStyleOptionFrame panel;
    initStyleOption(&panel);
    return style()
        ->subElementRect(QStyle::SE_LineEditContents, &panel, this)
        .marginsRemoved(textMargins())
        .adjusted(horizontalMargin, verticalMargin, -horizontalMargin, -verticalMargin);
}

QString NameField::shownText() const {
    if (hasFocus()) return text();
    return fontMetrics().elidedText(text(), Qt::ElideRight, textArea().width());
}

void NameField::focusInEvent(QFocusEvent* event) {
    QLineEdit::focusInEvent(event);
    // Reached by the keyboard, a line edit selects everything, and the next
    // key would replace the name the user came back to finish.
    if (event->reason() != Qt::MouseFocusReason) {
        deselect();
        end(false);
    }
}

void NameField::paintEvent(QPaintEvent* event) {
    const QString shown = shownText();
    if (shown == text()) {
        QLineEdit::paintEvent(event);
        return;
    }
    QPainter painter(this);
    QStyleOptionFrame panel;
    initStyleOption(&panel);
    style()->drawPrimitive(QStyle::PE_PanelLineEdit, &panel, &painter, this);
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Text));
    painter.drawText(textArea(), static_cast<int>(Qt::AlignLeading | Qt::AlignVCenter), shown);
}

}  // namespace kelto
