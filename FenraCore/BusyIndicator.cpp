#include "FenraCore/BusyIndicator.h"

#include <QPainter>
#include <QTimer>

#include <algorithm>

namespace kelto {

BusyIndicator::BusyIndicator(int side, QWidget* parent) : QWidget(parent), side_(side), timer_(new QTimer(this)) {
    setFixedSize(side_, side_);
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    timer_->setInterval(stepMilliseconds);
    connect(timer_, &QTimer::timeout, this, [this] {
        step_ = (step_ + 1) % steps;
        update();
    });
}

bool BusyIndicator::isTurning() const { return timer_->isActive(); }

QSize BusyIndicator::sizeHint() const { return {side_, side_}; }

void BusyIndicator::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal pen = std::max(1.5, side_ / 8.0);
    // Drawn at its own size in the middle of whatever frame it is given.
    QRectF ring(0, 0, side_, side_);
    ring.moveCenter(QRectF(rect()).center());
    ring.adjust(pen / 2 + 0.5, pen / 2 + 0.5, -pen / 2 - 0.5, -pen / 2 - 0.5);
    QColor colour = palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText);
    QColor track = colour;
    track.setAlphaF(0.2);
    painter.setPen(QPen(track, pen, Qt::SolidLine, Qt::RoundCap));
    painter.drawEllipse(ring);
    painter.setPen(QPen(colour, pen, Qt::SolidLine, Qt::RoundCap));
    // Qt counts angles in sixteenths of a degree, anticlockwise from three o'clock.
    const int start = 90 * 16 - step_ * (360 * 16 / steps);
    painter.drawArc(ring, start, -100 * 16);
}

void BusyIndicator::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    timer_->start();
}

void BusyIndicator::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    timer_->stop();
}

}  // namespace kelto
