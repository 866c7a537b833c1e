#include "KeltoDesign/KeltoChip.h"

#include "FenraCore/FenraFont.h"
#include "FenraCore/FenraTheme.h"
#include "KeltoDesign/internal/SelectableAccessible.h"

#include <QAccessible>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace kelto {
namespace {

QFont labelFont(bool selected) {
    return FenraFont::font(12, selected ? QFont::DemiBold : QFont::Normal);
}

}  // namespace

KeltoChip::KeltoChip(const QString& title, bool selected, std::function<void()> action, QWidget* parent)
    : QAbstractButton(parent), selected_(selected), action_(std::move(action)) {
    static const bool accessibleInstalled = (QAccessible::installFactory(&SelectableAccessible::create), true);
    Q_UNUSED(accessibleInstalled);
    setText(title);
    setAccessibleName(title);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(this, &QAbstractButton::clicked, this, [this] {
        if (action_) {
            action_();
        }
    });
}

void KeltoChip::setSelected(bool selected) {
    if (selected_ == selected) {
        return;
    }
    selected_ = selected;
    updateGeometry();
    update();
    QAccessible::State changed;
    changed.selected = true;
    QAccessibleStateChangeEvent event(this, changed);
    QAccessible::updateAccessibility(&event);
}

QSize KeltoChip::sizeHint() const {
    const QFontMetricsF metrics(labelFont(selected_));
    return {static_cast<int>(std::ceil(metrics.horizontalAdvance(text()) + 16)),
            static_cast<int>(std::ceil(metrics.height() + 8))};
}

void KeltoChip::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette& palette = this->palette();
    const QRectF bounds(rect());
    const double radius = std::min(bounds.width(), bounds.height()) / 2;
    QPainterPath capsule;
    capsule.addRoundedRect(bounds, radius, radius);
    painter.fillPath(capsule, (selected_ ? FenraTheme::kelto() : FenraTheme::stroke()).color(palette));
    if (selected_) {
        QColor outline = FenraTheme::navy().color(palette);
        outline.setAlphaF(0.25F);
        painter.setPen(QPen(outline, 1));
        const QRectF inset = bounds.adjusted(0.5, 0.5, -0.5, -0.5);
        painter.drawRoundedRect(inset, radius - 0.5, radius - 0.5);
    }
    painter.setFont(labelFont(selected_));
    painter.setPen((selected_ ? FenraTheme::navy() : FenraTheme::info()).color(palette));
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, text());
}

}  // namespace kelto
