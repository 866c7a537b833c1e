#include "FenraSettings/internal/TitleChip.h"

#include "FenraCore/FenraFont.h"
#include "FenraCore/FenraTheme.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace kelto {

TitleChip::TitleChip(const QString& title, QWidget* parent) : QLabel(title, parent) {
    setTextFormat(Qt::PlainText);
    setWordWrap(true);
    setAlignment(Qt::AlignCenter);
    setFont(FenraFont::font(FontRole::caption));
    setContentsMargins(10, 4, 10, 4);
}

void TitleChip::setSelected(bool selected) {
    if (selected_ != selected) {
        selected_ = selected;
        update();
    }
}

QColor TitleChip::textColor() const {
    return (selected_ ? FenraTheme::navy() : FenraTheme::textPrimary()).color(palette());
}

void TitleChip::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (selected_) {
        const QRectF bounds(rect());
        QPainterPath capsule;
        const double radius = std::min(bounds.width(), bounds.height()) / 2;
        capsule.addRoundedRect(bounds, radius, radius);
        painter.fillPath(capsule, FenraTheme::kelto().color(palette()));
    }
    painter.setPen(textColor());
    painter.drawText(contentsRect(), static_cast<int>(alignment()) | Qt::TextWordWrap, text());
}

}  // namespace kelto
