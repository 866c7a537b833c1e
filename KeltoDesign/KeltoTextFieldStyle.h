#pragma once

#include <QProxyStyle>

class QLineEdit;

namespace kelto {

// A compact line edit: 13-point text, 8 points in from either side, 26
// points high, on a rounded surface with a hairline border that takes the
// tint while the field has keyboard focus. A focused field also wears a
// translucent 3-point ring just outside its edge, drawn over its
// surroundings without changing its size.
class KeltoTextFieldStyle : public QProxyStyle {
    Q_OBJECT

public:
    static constexpr int fieldHeight = 26;
    static constexpr double cornerRadius = 7;
    static constexpr double ringWidth = 3;

    // Over the kit's widget style, not the desktop's.
    KeltoTextFieldStyle();

    // Gives the field a style of its own, which goes with it.
    static void apply(QLineEdit& field);

    void polish(QWidget* widget) override;
    void unpolish(QWidget* widget) override;
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override;
    QRect subElementRect(SubElement element, const QStyleOption* option, const QWidget* widget) const override;
    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override;
    using QProxyStyle::polish;
    using QProxyStyle::unpolish;
};

}  // namespace kelto
