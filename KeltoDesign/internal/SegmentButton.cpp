#include "KeltoDesign/internal/SegmentButton.h"

#include "FenraCore/FenraFont.h"
#include "FenraCore/FenraTheme.h"
#include "KeltoDesign/internal/SelectableAccessible.h"

#include <QAccessible>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace kelto {
namespace {

QFont labelFont(bool selected) {
    return FenraFont::font(12, selected ? QFont::Medium : QFont::Normal);
}

}  // namespace

SegmentButton::SegmentButton(const QString& title, QWidget* parent) : QAbstractButton(parent) {
    static const bool accessibleInstalled = (QAccessible::installFactory(&SelectableAccessible::create), true);
    Q_UNUSED(accessibleInstalled);
    setText(title);
    setAccessibleName(title);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFixedHeight(24);
}

void SegmentButton::setSelected(bool selected) {
    if (selected_ == selected) {
        return;
    }
    selected_ = selected;
    update();
    QAccessible::State changed;
    changed.selected = true;
    QAccessibleStateChangeEvent event(this, changed);
    QAccessible::updateAccessibility(&event);
}

int SegmentButton::labelWidth() const {
    return static_cast<int>(std::ceil(std::max(QFontMetricsF(labelFont(true)).horizontalAdvance(text()),
                                               QFontMetricsF(labelFont(false)).horizontalAdvance(text()))));
}

QSize SegmentButton::sizeHint() const {
    return {labelWidth() + 16, 24};
}

void SegmentButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (selected_) {
        QPainterPath fill;
        fill.addRoundedRect(QRectF(rect()), 5, 5);
        painter.fillPath(fill, FenraTheme::kelto().color(palette()));
    }
    painter.setFont(labelFont(selected_));
    painter.setPen((selected_ ? FenraTheme::navy() : FenraTheme::info()).color(palette()));
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, text());
}

}  // namespace kelto
