#pragma once

#include "FenraCore/FenraColor.h"

#include <QFont>
#include <QProxyStyle>

namespace kelto {

// What tells the two compact button styles apart.
struct CompactButtonLook {
    QFont::Weight weight;
    const FenraColor* text;
    int height;
    const FenraColor* fill;
    // The fill while pressed, at its opacity.
    const FenraColor* pressedFill;
    double pressedOpacity;
    bool shadow;
};

// A push button as a label on a rounded fill, 12 points either side of the
// label and of fixed height. Polishing a button gives it the layer that
// draws the shadow under fill and label and dims all three together when
// the button is disabled.
class CompactButtonStyle : public QProxyStyle {
    Q_OBJECT

public:
    static constexpr double cornerRadius = 7;
    static constexpr double disabledOpacity = 0.45;

    const CompactButtonLook& look() const { return look_; }
    QFont labelFont() const;

    void polish(QWidget* widget) override;
    void unpolish(QWidget* widget) override;
    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& contentsSize,
                           const QWidget* widget) const override;
    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override;
    using QProxyStyle::polish;
    using QProxyStyle::unpolish;

protected:
    explicit CompactButtonStyle(CompactButtonLook look);

private:
    CompactButtonLook look_;
};

}  // namespace kelto
