#include "FenraCore/IconLabel.h"

#include <QPainter>

namespace kelto {

IconLabel::IconLabel(QWidget* parent) : QLabel(parent) {}

void IconLabel::setIcon(QIcon icon) {
    icon_ = std::move(icon);
    update();
}

void IconLabel::paintEvent(QPaintEvent* event) {
    if (icon_.isNull()) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    icon_.paint(&painter, contentsRect(), Qt::AlignCenter, isEnabled() ? QIcon::Normal : QIcon::Disabled);
}

}  // namespace kelto
