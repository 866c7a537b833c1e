#pragma once

#include "FenraCore/ColorScheme.h"

#include <QPalette>
#include <QProxyStyle>

namespace kelto {

// The one widget style of the kit's windows, whatever the desktop's Qt theme:
// Qt's Fusion under the kit's palette, with the kit's own check box and an
// accent fill for a toggle button that is on. A flat tool button, such as a
// disclosure, has one look on or off: its content tells its state. An
// icon-only tool button that opens a menu draws no menu arrow over its
// icon. Tool tips wrap at a readable width. Alerts show the kit's symbols,
// in the theme's colours, and dialog buttons carry no icons: one look for
// every alert.
class FenraStyle : public QProxyStyle {
public:
    FenraStyle();

    // Every role in every colour group: window greys of the platform's kind,
    // the selection in the theme's accent with its text in the on-accent
    // colour.
    static QPalette palette(ColorScheme scheme);

    QPalette standardPalette() const override;
    // Tool tips of the application's widgets wrap at a readable width.
    void polish(QApplication* application) override;
    void unpolish(QApplication* application) override;
    using QProxyStyle::polish;
    using QProxyStyle::unpolish;
    QIcon standardIcon(StandardPixmap icon, const QStyleOption* option = nullptr,
                       const QWidget* widget = nullptr) const override;
    int styleHint(StyleHint hint, const QStyleOption* option = nullptr, const QWidget* widget = nullptr,
                  QStyleHintReturn* returnData = nullptr) const override;
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget = nullptr) const override;
    void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                            const QWidget* widget = nullptr) const override;
};

}  // namespace kelto
