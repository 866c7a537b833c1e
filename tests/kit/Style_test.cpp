#include "FenraCore/Contrast.h"
#include "FenraCore/FenraStyle.h"
#include "FenraCore/FoldedTile.h"
#include "tests/support/widgets/DrawnPanels.h"
#include "tests/support/widgets/WidgetRender.h"

#include <QCheckBox>
#include <QIcon>
#include <QImage>
#include <QMenu>
#include <QPixmap>
#include <QPainter>
#include <QPushButton>
#include <QStyleOptionButton>
#include <QToolButton>

#include <gtest/gtest.h>

#include <algorithm>

namespace kelto {
namespace {

RGB rgb(const QColor& color) {
    const QColor c = color.toRgb();
    return RGB{c.redF(), c.greenF(), c.blueF()};
}

double ratio(const QColor& a, const QColor& b) { return Contrast::ratio(rgb(a), rgb(b)); }

const std::pair<const char*, ColorScheme> schemes[] = {{"light", ColorScheme::light}, {"dark", ColorScheme::dark}};

TEST(FenraStyle, SelectedTextAndTilesStandOutFromTheSelection) {
    for (const auto& [name, scheme] : schemes) {
        SCOPED_TRACE(name);
        const QPalette palette = FenraStyle::palette(scheme);
        for (const auto group : {QPalette::Active, QPalette::Inactive}) {
            EXPECT_GE(ratio(palette.color(group, QPalette::HighlightedText), palette.color(group, QPalette::Highlight)),
                      4.5);
        }
        const QColor selection = palette.color(QPalette::Active, QPalette::Highlight);
        const QColor ink = palette.color(QPalette::Active, QPalette::HighlightedText);
        for (const TileTint tint : TileTints::allCases()) {
            // A ring, when the tile gets one, is what borders it.
            const QColor edge = FoldedTile::ring(tint, selection, ink).value_or(selection);
            EXPECT_GE(Contrast::ratio(TileTints::base(tint), rgb(edge)), 3) << static_cast<int>(tint);
        }
    }
}

// The strongest contrast with `against` of any pixel in `area`.
double strongest(const QImage& image, const QRect& area, const QColor& against) {
    double best = 1;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) best = std::max(best, ratio(image.pixelColor(x, y), against));
    }
    return best;
}

TEST(FenraStyle, CheckBoxesAndToggledButtonsShowInBothLooks) {
    for (const auto& [name, scheme] : schemes) {
        SCOPED_TRACE(name);
        const QPalette palette = FenraStyle::palette(scheme);
        const QColor window = palette.color(QPalette::Window);
        QCheckBox box;
        box.setPalette(palette);
        box.resize(box.sizeHint());
        QImage image = WidgetRender::image(box);
        QStyleOptionButton option;
        option.initFrom(&box);
        const QRect indicator = box.style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, &box);
        QImage onWindow(image.size(), QImage::Format_RGB32);
        onWindow.fill(window);
        {
            QPainter painter(&onWindow);
            painter.drawImage(0, 0, image);
        }
        EXPECT_GE(strongest(onWindow, indicator, window), 2.5) << "the empty box shows";

        // Weekdays are tool buttons; other toggles push buttons.
        QPushButton pushOff(QStringLiteral("M")), pushOn(QStringLiteral("M"));
        QToolButton toolOff, toolOn;
        const std::pair<QAbstractButton*, QAbstractButton*> pairs[] = {{&pushOff, &pushOn}, {&toolOff, &toolOn}};
        for (const auto& [off, on] : pairs) {
            for (QAbstractButton* button : {off, on}) {
                button->setText(QStringLiteral("M"));
                button->setCheckable(true);
                button->setPalette(palette);
                button->resize(40, 30);
            }
            on->setChecked(true);
            const QPoint inside(6, 15);
            EXPECT_GE(ratio(WidgetRender::image(*on).pixelColor(inside), WidgetRender::image(*off).pixelColor(inside)), 3)
                << "a day that is on reads apart from one that is off";
        }
    }
}

// A flat tool button has one look on or off; a bordered one shows its state.
TEST(FenraStyle, AFlatToolButtonLooksTheSameOnAndOff) {
    for (const bool flat : {true, false}) {
        SCOPED_TRACE(flat ? "flat" : "bordered");
        QToolButton button;
        button.setText(QStringLiteral("Advanced"));
        button.setCheckable(true);
        button.setAutoRaise(flat);
        button.setArrowType(Qt::RightArrow);
        button.setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        button.resize(button.sizeHint());
        const auto off = DrawnPanels::of(button);
        button.setChecked(true);
        const auto on = DrawnPanels::of(button);
        EXPECT_EQ(on == off, flat);
    }
}

// Whether the style draws a menu arrow for a tool button.
class ArrowCounter : public FenraStyle {
public:
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override {
        if (element == PE_IndicatorArrowDown) ++arrows;
        FenraStyle::drawPrimitive(element, option, painter, widget);
    }
    mutable int arrows = 0;
};

TEST(FenraStyle, AnIconOnlyMenuButtonDrawsNoArrowOverItsIcon) {
    QPixmap dots(16, 16);
    dots.fill(Qt::black);
    struct Case {
        const char* name;
        QToolButton::ToolButtonPopupMode mode;
        Qt::ToolButtonStyle style;
        bool flat;
        bool arrow;
    };
    for (const Case& c : {Case{"more, flat", QToolButton::InstantPopup, Qt::ToolButtonIconOnly, true, false},
                          Case{"more, framed", QToolButton::InstantPopup, Qt::ToolButtonIconOnly, false, false},
                          Case{"delayed", QToolButton::DelayedPopup, Qt::ToolButtonIconOnly, true, true},
                          Case{"split", QToolButton::MenuButtonPopup, Qt::ToolButtonIconOnly, true, true},
                          Case{"with text", QToolButton::InstantPopup, Qt::ToolButtonTextBesideIcon, true, true}}) {
        SCOPED_TRACE(c.name);
        QToolButton button;
        button.setIcon(QIcon(dots));
        button.setText(QStringLiteral("Job actions"));
        button.setToolButtonStyle(c.style);
        button.setAutoRaise(c.flat);
        QMenu menu;
        menu.addAction(QStringLiteral("Pause automatic runs"));
        button.setMenu(&menu);
        button.setPopupMode(c.mode);
        button.resize(button.sizeHint());
        ArrowCounter style;
        button.setStyle(&style);
        QImage image(button.size(), QImage::Format_ARGB32_Premultiplied);
        button.render(&image);
        EXPECT_EQ(style.arrows > 0, c.arrow);
        button.setStyle(nullptr);
    }
}

}  // namespace
}  // namespace kelto
