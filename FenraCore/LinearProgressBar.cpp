#include "FenraCore/LinearProgressBar.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace kelto {

LinearProgressBar::LinearProgressBar(QWidget* parent) : QProgressBar(parent) {
    setTextVisible(false);
    setFixedHeight(thickness);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize LinearProgressBar::sizeHint() const { return {QProgressBar::sizeHint().width(), thickness}; }

QSize LinearProgressBar::minimumSizeHint() const { return {thickness * 2, thickness}; }

void LinearProgressBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette::ColorGroup group = isEnabled() ? QPalette::Active : QPalette::Disabled;
    const QRectF track = QRectF(rect());
    const qreal radius = track.height() / 2;
    QColor empty = palette().color(group, QPalette::WindowText);
    empty.setAlphaF(0.2);
    QPainterPath whole;
    whole.addRoundedRect(track, radius, radius);
    painter.fillPath(whole, empty);
    const qint64 span = qint64(maximum()) - minimum();
    if (span <= 0) return;
    const double done = std::clamp(double(qint64(value()) - minimum()) / double(span), 0.0, 1.0);
    if (done <= 0) return;
    QRectF filled = track;
    filled.setWidth(std::max(track.height(), track.width() * done));
    if (layoutDirection() == Qt::RightToLeft) filled.moveRight(track.right());
    QPainterPath part;
    part.addRoundedRect(filled, radius, radius);
    painter.fillPath(part, palette().color(group, QPalette::Highlight));
}

}  // namespace kelto
