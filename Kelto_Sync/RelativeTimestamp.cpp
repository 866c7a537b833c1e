#include "Kelto_Sync/RelativeTimestamp.h"

#include "Kelto_Sync/DisplayFormat.h"

#include <QEvent>
#include <QTimer>

namespace kelto {

RelativeTimestamp::RelativeTimestamp(Date date, const Clock& clock, QWidget* parent)
    : QLabel(parent), date_(date), clock_(&clock), tickedAt_(clock.now()), timer_(new QTimer(this)) {
    setTextFormat(Qt::PlainText);
    timer_->setInterval(tickInterval);
    timer_->setTimerType(Qt::CoarseTimer);
    connect(timer_, &QTimer::timeout, this, &RelativeTimestamp::tick);
    refreshText();
}

void RelativeTimestamp::setDate(Date date) {
    date_ = date;
    refreshText();
}

void RelativeTimestamp::tick() {
    tickedAt_ = clock_->now();
    refreshText();
}

void RelativeTimestamp::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::LocaleChange) {
        refreshText();
    }
}

void RelativeTimestamp::showEvent(QShowEvent* event) {
    QLabel::showEvent(event);
    // Shown again after a while: start a new run of ticks from now.
    tick();
    timer_->start();
}

void RelativeTimestamp::hideEvent(QHideEvent* event) {
    QLabel::hideEvent(event);
    timer_->stop();
}

void RelativeTimestamp::refreshText() {
    setText(DisplayFormat::relative(date_, tickedAt_, clock_->now(), locale()));
}

}  // namespace kelto
