#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QFontInfo>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>
#include <QToolButton>
#include <QToolTip>
#include <QWindow>

#include "FenraCore/Appearance.h"
#include "FenraCore/Contrast.h"
#include "FenraCore/FenraFont.h"
#include "FenraCore/FenraIcon.h"
#include "FenraCore/FenraStyle.h"
#include "FenraCore/FenraTheme.h"
#include "FenraCore/FoldedTile.h"
#include "FenraCore/SymbolImage.h"
#include "FenraCore/WindowPlacement.h"
#include "tests/support/widgets/DrawnPanels.h"
#include "tests/support/widgets/TextContrast.h"
#include "tests/support/widgets/WidgetRender.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace kelto {
namespace {

RGB rgb(const QColor& color) { return RGB{color.toRgb().redF(), color.toRgb().greenF(), color.toRgb().blueF()}; }
double ratio(const QColor& a, const QColor& b) { return Contrast::ratio(rgb(a), rgb(b)); }

const std::pair<const char*, ColorScheme> schemes[] = {{"light", ColorScheme::light}, {"dark", ColorScheme::dark}};

TEST(FenraStyle, SelectedTextAndTilesStandOutFromTheSelection) {
    for (const auto& [name, scheme] : schemes) {
        SCOPED_TRACE(name);
        const QPalette palette = FenraStyle::palette(scheme);
        for (const auto group : {QPalette::Active, QPalette::Inactive})
            EXPECT_GE(ratio(palette.color(group, QPalette::HighlightedText), palette.color(group, QPalette::Highlight)), 4.5);
        const QColor selection = palette.color(QPalette::Active, QPalette::Highlight);
        const QColor ink = palette.color(QPalette::Active, QPalette::HighlightedText);
        for (const TileTint tint : TileTints::allCases()) {
            // A ring, when the tile gets one, is what borders it.
            const QColor edge = FoldedTile::ring(tint, selection, ink).value_or(selection);
            EXPECT_GE(Contrast::ratio(TileTints::base(tint), rgb(edge)), 3) << static_cast<int>(tint);
        }
    }
}

TEST(FenraStyle, CheckBoxesAndToggledButtonsShowInBothLooks) {
    for (const auto& [name, scheme] : schemes) {
        SCOPED_TRACE(name);
        const QPalette palette = FenraStyle::palette(scheme);
        const QColor window = palette.color(QPalette::Window);
        QCheckBox box;
        box.setPalette(palette);
        box.resize(box.sizeHint());
        QStyleOptionButton option;
        option.initFrom(&box);
        const QRect indicator = box.style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, &box);
        EXPECT_GE(TextContrast::strongest(WidgetRender::image(box), indicator, window), 2.5) << "the empty box shows";
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

// Counts the menu arrows the style draws.
struct ArrowCounter : FenraStyle {
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

QPalette paletteOf(QColor window, QColor text) {
    QPalette palette;
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    return palette;
}

// Dark only when the window is darker than its text (equal is light), by lightness rather than the sum of the
// channels; a colour resolves for the palette it is drawn with.
TEST(Appearance, DarkOnlyWhenTheWindowIsDarkerThanItsText) {
    const QPalette grey = paletteOf(QColor(128, 128, 128), QColor(128, 128, 128));
    EXPECT_EQ(Appearance::scheme(WidgetRender::lightPalette()), ColorScheme::light);
    EXPECT_EQ(Appearance::scheme(WidgetRender::darkPalette()), ColorScheme::dark);
    EXPECT_EQ(Appearance::scheme(grey), ColorScheme::light);
    EXPECT_EQ(Appearance::scheme(paletteOf(QColor(0, 0, 255), QColor(0, 160, 0))), ColorScheme::dark);
    QWidget widget;
    widget.setPalette(WidgetRender::darkPalette());
    EXPECT_EQ(Appearance::scheme(widget), ColorScheme::dark);
    const FenraColor& warning = FenraTheme::warning();
    EXPECT_EQ(warning.color(WidgetRender::darkPalette()), warning.dark.color());
    EXPECT_EQ(warning.color(grey), warning.light.color());
}

TEST(FenraFont, PointsArePixelsInTheApplicationFamilyAndDigitsAlign) {
    const QFont body = FenraFont::font(13);
    EXPECT_EQ(body.family(), QApplication::font().family());
    EXPECT_EQ(QFontInfo(body).pixelSize(), 13);
    EXPECT_EQ(FenraFont::font(16.8, QFont::DemiBold).pixelSize(), 17);
    // The tests' DejaVu Sans has tabular digits: it is kept.
    ASSERT_EQ(QFontInfo(QApplication::font()).family(), QStringLiteral("DejaVu Sans"));
    const QFont digits = FenraFont::monospacedDigits(12);
    EXPECT_EQ(digits.family(), QApplication::font().family());
    EXPECT_EQ(digits.pixelSize(), 12);
}

// The size of the tip Qt shows for `text`.
QSize tipFor(QWidget& widget, const QString& text) {
    widget.setToolTip(text);
    QHelpEvent asked(QEvent::ToolTip, QPoint(10, 10), widget.mapToGlobal(QPoint(10, 10)));
    QApplication::sendEvent(&widget, &asked);
    QSize size;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (top->inherits("QTipLabel") && top->isVisible()) size = top->size();
    QToolTip::hideText();
    return size;
}

// A long name wraps at a readable width, plain or looking like markup, never to a narrow column; a short one stays
// on one line.
TEST(ToolTips, WrapAtAReadableWidth) {
    QWidget widget;
    widget.resize(200, 100);
    widget.show();
    const QFontMetrics metrics(QToolTip::font());
    const int line = metrics.lineSpacing();
    const int readable = 45 * metrics.averageCharWidth();
    const QString name = QStringLiteral("A very long job name that goes on and on for quite a while, and then some more "
                                        "words \u2014 Match source");
    for (const QString& text : {name, QStringLiteral("<b>") + name + QStringLiteral("</b>")}) {
        SCOPED_TRACE(text.toStdString());
        const QSize tip = tipFor(widget, text);
        EXPECT_GE(tip.width(), readable * 3 / 4);
        EXPECT_LE(tip.width(), readable + 16);
        EXPECT_LE(tip.height(), 4 * line + 8) << "a few lines, not a narrow column";
    }
    const QSize shortTip = tipFor(widget, QStringLiteral("Job actions"));
    EXPECT_LT(shortTip.height(), 2 * line);
    EXPECT_LE(shortTip.width(), metrics.horizontalAdvance(QStringLiteral("Job actions")) + 16);
}

// A screen of 1440 × 900 whose top 28 pixels a panel keeps.
const QRect freeArea(0, 28, 1440, 872);

// Centred on its owner, moved in rather than hung off an edge, cut to the free area. A popup opens beside its
// anchor on the roomier side, as tall as the room holds, never over the anchor nor a panel the free area leaves out.
TEST(WindowPlacement, AWindowIsCentredOnItsOwnerAndAPopupOpensBesideItsAnchor) {
    EXPECT_EQ(WindowPlacement::centred(QSize(600, 400), QRect(220, 100, 1000, 700), freeArea), QRect(420, 250, 600, 400));
    EXPECT_EQ(WindowPlacement::centred(QSize(600, 400), QRect(-300, 100, 500, 700), freeArea).left(), 0);
    EXPECT_EQ(WindowPlacement::centred(QSize(600, 400), QRect(100, 600, 800, 700), freeArea).bottom(), freeArea.bottom());
    EXPECT_EQ(WindowPlacement::centred(QSize(1000, 1000), QRect(), freeArea), QRect(220, 28, 1000, 872));
    EXPECT_EQ(WindowPlacement::centred(QSize(2000, 400), QRect(), freeArea), QRect(0, 264, 1440, 400));
    const QRect screen(0, 0, 1440, 900), topIcon(1400, 3, 22, 22), bottomIcon(700, 875, 22, 22);
    EXPECT_EQ(WindowPlacement::beside(topIcon, QSize(360, 500), screen), QRect(1080, 25, 360, 500));
    EXPECT_EQ(WindowPlacement::beside(topIcon, QSize(360, 1200), screen), QRect(1080, 25, 360, 875));
    EXPECT_EQ(WindowPlacement::roomBeside(topIcon, screen), 875);
    EXPECT_EQ(WindowPlacement::beside(bottomIcon, QSize(360, 1200), screen), QRect(530, 0, 360, 875));
    EXPECT_EQ(WindowPlacement::beside(topIcon, QSize(360, 1200), freeArea), QRect(1080, 28, 360, 872));
    EXPECT_EQ(WindowPlacement::roomBeside(topIcon, freeArea), 872);
}

// A sheet opened before its window is shown belongs to it once it is: the window manager keeps a dialog above the
// window it is transient for, and only then; it stays centred as its window is placed again. Another sheet, even taller than the screen, opens at once.
TEST(WindowPlacement, ASheetOpenedBeforeItsWindowIsShownOverItOnceItIs) {
    QWidget window;
    window.resize(800, 600);
    window.move(100, 80);
    auto* sheet = new QDialog(&window);
    sheet->resize(300, 200);
    WindowPlacement::openSheet(*sheet);
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const auto centred = [&] {
        return (sheet->frameGeometry().center() - window.frameGeometry().center()).manhattanLength() <= 2;
    };
    EXPECT_TRUE(QTest::qWaitFor(centred)) << "placed before its window was";
    window.move(window.pos() + QPoint(120, 40));
    EXPECT_TRUE(QTest::qWaitFor(centred)) << "left behind when its window was placed again";
    ASSERT_TRUE(sheet->isVisible());
    EXPECT_EQ(sheet->windowHandle()->transientParent(), window.windowHandle());
    auto* tall = new QDialog(&window);
    tall->resize(400, 5000);
    WindowPlacement::openSheet(*tall);
    EXPECT_TRUE(tall->isVisible());
    EXPECT_TRUE(WindowPlacement::freeArea(*tall).contains(tall->frameGeometry()));
}

// The window system may hand the activation to the window a sheet blocks: the sheet takes the keyboard.
TEST(WindowPlacement, ASheetTakesTheKeyboardWhenItsWindowIsActivated) {
    QWidget window;
    window.resize(600, 400);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    auto* sheet = new QDialog(&window);
    WindowPlacement::openSheet(*sheet);
    ASSERT_TRUE(QTest::qWaitForWindowActive(sheet));
    QSignalSpy rejected(sheet, &QDialog::rejected);
    for (int time = 0; time < 2; ++time) {
        window.windowHandle()->requestActivate();
        EXPECT_TRUE(QTest::qWaitFor([&] { return QGuiApplication::focusWindow() == sheet->windowHandle(); }))
            << "time " << time;
    }
    QTest::keyClick(QGuiApplication::focusWindow(), Qt::Key_Escape);
    EXPECT_EQ(rejected.count(), 1);
}

TEST(WindowPlacement, AlertsShowTheKitsSymbolsAndNoButtonIcons) {
    QMessageBox box;
    box.setIcon(QMessageBox::Warning);
    const QImage expected =
        SymbolImage::icon(FenraIcon::warning, FenraTheme::warning().color(box.palette())).pixmap(16, 16).toImage();
    const QImage shown = box.style()->standardIcon(QStyle::SP_MessageBoxWarning, nullptr, &box).pixmap(16, 16).toImage();
    EXPECT_EQ(shown, expected);
    for (const auto button : {QMessageBox::Cancel, QMessageBox::Ok, QMessageBox::Discard})
        EXPECT_TRUE(box.addButton(button)->icon().isNull()) << button;
}

}  // namespace
}  // namespace kelto
