#include "KeltoDesign/KeltoTextFieldStyle.h"

#include "FenraCore/FenraFont.h"
#include "FenraCore/FenraStyle.h"
#include "FenraCore/FenraTheme.h"
#include "KeltoDesign/internal/FocusRingEffect.h"

#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QStyleOption>

namespace kelto {

KeltoTextFieldStyle::KeltoTextFieldStyle() : QProxyStyle(new FenraStyle) {}

void KeltoTextFieldStyle::apply(QLineEdit& field) {
    auto* style = new KeltoTextFieldStyle;
    style->setParent(&field);
    field.setStyle(style);
}

void KeltoTextFieldStyle::polish(QWidget* widget) {
    QProxyStyle::polish(widget);
    if (auto* field = qobject_cast<QLineEdit*>(widget)) {
        field->setFont(FenraFont::font(13));
        field->setFrame(true);
        field->setFixedHeight(fieldHeight);
        field->setGraphicsEffect(new FocusRingEffect(*field, ringWidth, cornerRadius + 2));
    }
}

void KeltoTextFieldStyle::unpolish(QWidget* widget) {
    if (qobject_cast<FocusRingEffect*>(widget->graphicsEffect()) != nullptr) {
        widget->setGraphicsEffect(nullptr);
    }
    QProxyStyle::unpolish(widget);
}

void KeltoTextFieldStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                                        const QWidget* widget) const {
    if (element == PE_FrameLineEdit) {
        return;  // the panel draws the border
    }
    if (element != PE_PanelLineEdit) {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        return;
    }
    const QPalette& palette = option->palette;
    const bool focused = option->state & State_HasFocus;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(option->rect), cornerRadius, cornerRadius);
    painter->fillPath(shape, FenraTheme::surface().color(palette));
    // A border inside the edge: the shape inset by half the line.
    const QColor border = (focused ? FenraTheme::tint() : FenraTheme::textTertiary()).color(palette);
    painter->setPen(QPen(border, 1));
    painter->setBrush(Qt::NoBrush);
    painter->drawRoundedRect(QRectF(option->rect).adjusted(0.5, 0.5, -0.5, -0.5), cornerRadius - 0.5, cornerRadius - 0.5);
    painter->restore();
}

QRect KeltoTextFieldStyle::subElementRect(SubElement element, const QStyleOption* option, const QWidget* widget) const {
    if (element == SE_LineEditContents) {
        return option->rect.adjusted(8, 0, -8, 0);
    }
    return QProxyStyle::subElementRect(element, option, widget);
}

int KeltoTextFieldStyle::pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const {
    if (metric == PM_DefaultFrameWidth && qobject_cast<const QLineEdit*>(widget) != nullptr) {
        return 0;
    }
    return QProxyStyle::pixelMetric(metric, option, widget);
}

}  // namespace kelto
