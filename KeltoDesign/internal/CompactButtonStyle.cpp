#include "KeltoDesign/internal/CompactButtonStyle.h"

#include "FenraCore/FenraFont.h"
#include "FenraCore/FenraStyle.h"
#include "KeltoDesign/internal/ButtonLayerEffect.h"
#include "KeltoDesign/internal/DropShadow.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QStyleOptionButton>

#include <cmath>

namespace kelto {

// Over the kit's widget style, not the desktop's.
CompactButtonStyle::CompactButtonStyle(CompactButtonLook look) : QProxyStyle(new FenraStyle), look_(look) {}

QFont CompactButtonStyle::labelFont() const {
    return FenraFont::font(12, look_.weight);
}

void CompactButtonStyle::polish(QWidget* widget) {
    QProxyStyle::polish(widget);
    if (auto* button = qobject_cast<QPushButton*>(widget)) {
        std::optional<DropShadow> shadow;
        if (look_.shadow) {
            shadow = DropShadow{QColor::fromRgbF(0, 0, 0, 0.08F), 2, QPointF(0, 1)};
        }
        button->setGraphicsEffect(new ButtonLayerEffect(*button, shadow, cornerRadius, disabledOpacity));
        button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    }
}

void CompactButtonStyle::unpolish(QWidget* widget) {
    if (qobject_cast<ButtonLayerEffect*>(widget->graphicsEffect()) != nullptr) {
        widget->setGraphicsEffect(nullptr);
    }
    QProxyStyle::unpolish(widget);
}

QSize CompactButtonStyle::sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& contentsSize,
                                           const QWidget* widget) const {
    if (type != CT_PushButton) {
        return QProxyStyle::sizeFromContents(type, option, contentsSize, widget);
    }
    const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option);
    const double label = button ? QFontMetricsF(labelFont()).horizontalAdvance(button->text) : 0;
    return {static_cast<int>(std::ceil(label + 24)), look_.height};
}

void CompactButtonStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                                     const QWidget* widget) const {
    const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option);
    if (element != CE_PushButton || button == nullptr) {
        QProxyStyle::drawControl(element, option, painter, widget);
        return;
    }
    const QPalette& palette = option->palette;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(option->rect), cornerRadius, cornerRadius);
    if (option->state & State_Sunken) {
        QColor fill = look_.pressedFill->color(palette);
        fill.setAlphaF(static_cast<float>(look_.pressedOpacity));
        painter->fillPath(shape, fill);
    } else {
        painter->fillPath(shape, look_.fill->color(palette));
    }
    painter->setFont(labelFont());
    painter->setPen(look_.text->color(palette));
    painter->drawText(option->rect, Qt::AlignCenter | Qt::TextSingleLine, button->text);
    painter->restore();
}

}  // namespace kelto
