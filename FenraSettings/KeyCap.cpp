#include "FenraSettings/KeyCap.h"

#include "FenraCore/FenraFont.h"
#include "FenraCore/FenraTheme.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace kelto {

KeyCap::KeyCap(const QString& text, QWidget* parent) : QLabel(text, parent) {
    setTextFormat(Qt::PlainText);
    setFont(FenraFont::monospacedDigits(13));
    setContentsMargins(9, 4, 9, 4);
    setAlignment(Qt::AlignCenter);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void KeyCap::paintEvent(QPaintEvent* event) {
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF bounds(rect());
        const double radius = std::min(bounds.width(), bounds.height()) / 2;
        QPainterPath capsule;
        capsule.addRoundedRect(bounds, radius, radius);
        painter.fillPath(capsule, FenraTheme::stroke().color(palette()));
    }
    QLabel::paintEvent(event);
}

}  // namespace kelto
