#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QFontInfo>
#include <QHelpEvent>
#include <QLabel>
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

#include "FenraCore/Appearance.h"
#include "FenraCore/Contrast.h"
#include "FenraCore/DogEar.h"
#include "FenraCore/FenraFont.h"
#include "FenraCore/FenraIcon.h"
#include "FenraCore/FenraLabel.h"
#include "FenraCore/FenraPreferences.h"
#include "FenraCore/FenraStyle.h"
#include "FenraCore/FenraSurfaceFrame.h"
#include "FenraCore/FenraSurfaceGroup.h"
#include "FenraCore/FenraTheme.h"
#include "FenraCore/FoldedTile.h"
#include "FenraCore/FoldedTileView.h"
#include "FenraCore/IconLabel.h"
#include "FenraCore/SurfaceMaterial.h"
#include "FenraCore/SymbolImage.h"
#include "FenraCore/WindowPlacement.h"
#include "tests/support/widgets/DrawnPanels.h"
#include "tests/support/widgets/TextContrast.h"
#include "tests/support/widgets/WidgetRender.h"

#include <gtest/gtest.h>

#include <set>

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

// Bordered, a toggled tool button shows its state by its face (above); flat, by its arrow alone.
TEST(FenraStyle, AFlatToolButtonLooksTheSameOnAndOff) {
    QToolButton button;
    button.setText(QStringLiteral("Advanced"));
    button.setCheckable(true);
    button.setAutoRaise(true);
    button.setArrowType(Qt::RightArrow);
    button.setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button.resize(button.sizeHint());
    const auto off = DrawnPanels::of(button);
    button.setChecked(true);
    EXPECT_EQ(DrawnPanels::of(button), off);
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

// Plain or looking like markup, a long name wraps at a readable width, never to a narrow column.
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

// The window manager keeps a dialog above the window it is transient for, and only then. A sheet stays centred as
// its window is placed again; one taller than the screen opens at once.
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
    {
        // The window system may hand the activation to the window a sheet blocks: the sheet takes the keyboard.
        SCOPED_TRACE("ASheetTakesTheKeyboardWhenItsWindowIsActivated");
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
    auto* tall = new QDialog(&window);
    tall->resize(400, 5000);
    WindowPlacement::openSheet(*tall);
    EXPECT_TRUE(tall->isVisible());
    EXPECT_TRUE(WindowPlacement::freeArea(*tall).contains(tall->frameGeometry()));
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

const QColor white(255, 255, 255), red(255, 0, 0);

using Coverage = WidgetRender::Coverage;

void expectNear(const QColor& actual, const QColor& expected, int tolerance = 1) {
    EXPECT_NEAR(actual.red(), expected.red(), tolerance);
    EXPECT_NEAR(actual.green(), expected.green(), tolerance);
    EXPECT_NEAR(actual.blue(), expected.blue(), tolerance);
    EXPECT_EQ(actual.alpha(), 255);
}

// Every icon has artwork, drawn in its tint only, as sharp as the ratio asks (vector artwork: twice the side paints
// about four times the pixels), faded when disabled; a name without artwork is left to the icon theme.
TEST(SymbolImage, EveryIconDrawsInItsTintAndTheStopSymbolIsAFilledSquareInARing) {
    const QColor tint(200, 30, 90);
    std::set<QString> names;
    for (FenraIcon icon : FenraIcons::allCases()) {
        const QString name = *names.insert(symbolName(icon)).first;
        SCOPED_TRACE(name.toStdString());
        ASSERT_TRUE(SymbolImage::hasArtwork(name));
        const QImage image = SymbolImage::icon(icon, tint).pixmap(QSize(24, 24), 1.0).toImage();
        const Coverage coverage = WidgetRender::coverage(image, tint);
        EXPECT_GT(coverage.painted, 24);
        EXPECT_EQ(coverage.offTint, 0);
    }
    EXPECT_EQ(names.size(), FenraIcons::count) << "two icons share a symbol";
    const QIcon folder = SymbolImage::icon(FenraIcon::folder, Qt::black);
    EXPECT_EQ(folder.pixmap(QSize(20, 20), 2.0).size(), QSize(40, 40));
    EXPECT_GT(WidgetRender::coverage(folder.pixmap(QSize(64, 64), 1.0).toImage(), Qt::black).painted,
              3 * WidgetRender::coverage(folder.pixmap(QSize(32, 32), 1.0).toImage(), Qt::black).painted);
    const QIcon success = SymbolImage::icon(FenraIcon::success, QColor(0, 0, 255));
    EXPECT_EQ(success.pixmap(QSize(24, 24), 1.0, QIcon::Normal).toImage().pixelColor(5, 12).alpha(), 255);
    const int faded = success.pixmap(QSize(24, 24), 1.0, QIcon::Disabled).toImage().pixelColor(5, 12).alpha();
    EXPECT_TRUE(faded > 0 && faded < 128) << faded;
    EXPECT_FALSE(SymbolImage::hasArtwork(QStringLiteral("no.such.symbol")));
    EXPECT_FALSE(SymbolImage::hasArtwork(QString()));
    EXPECT_TRUE(SymbolImage::named(QStringLiteral("no.such.symbol"), Qt::black).isNull());
    // At a row button's size "Stop" reads as a stop sign: a filled square inside its ring, not a radio button's dot.
    const QImage image = SymbolImage::icon(FenraIcon::stopped, Qt::black).pixmap(QSize(16, 16)).toImage();
    ASSERT_EQ(image.size(), QSize(16, 16));
    EXPECT_EQ(WidgetRender::pixel(image, 8, 8).alpha(), 255) << "the middle is filled";
    EXPECT_GT(WidgetRender::pixel(image, 6, 6).alpha(), 200) << "square to its corners";
    EXPECT_EQ(WidgetRender::pixel(image, 4, 8).alpha(), 0) << "apart from the ring";
    EXPECT_GT(WidgetRender::pixel(image, 2, 8).alpha(), 100) << "the ring";
}

// The title shows verbatim as plain text, read out as it is; the symbol is as tall as the text, in its colour.
TEST(FenraLabel, ShowsItsTitleVerbatimBesideTheSymbolInTheTextColour) {
    const QString title = QStringLiteral("<b>Sync</b> &now");
    FenraLabel label(title, FenraIcon::sync);
    const QList<QLabel*> parts = label.findChildren<QLabel*>();
    ASSERT_EQ(parts.size(), 2);
    QLabel* icon = parts[0]->pixmap().isNull() ? parts[1] : parts[0];
    QLabel* text = icon == parts[0] ? parts[1] : parts[0];
    EXPECT_EQ(text->textFormat(), Qt::PlainText);
    EXPECT_EQ(icon->pixmap().height(), text->fontMetrics().height());
    for (QWidget* named : {static_cast<QWidget*>(&label), static_cast<QWidget*>(text)})
        EXPECT_EQ(QAccessible::queryAccessibleInterface(named)->text(QAccessible::Name), title);
    QPalette palette = label.palette();
    palette.setColor(QPalette::WindowText, QColor(0, 128, 0));
    label.setPalette(palette);
    const Coverage coverage = WidgetRender::coverage(icon->pixmap().toImage(), QColor(0, 128, 0));
    EXPECT_GT(coverage.painted, 0);
    EXPECT_EQ(coverage.offTint, 0);
}

// In 100 × 40 with a 12-point fold the top right corner is cut away; right to left mirrors it.
TEST(DogEar, TheFlapAndClipFollowTheLayoutDirectionAndTheFlapTakesNoClicks) {
    for (const Qt::LayoutDirection direction : {Qt::LeftToRight, Qt::RightToLeft}) {
        const auto x = [direction](int at) { return direction == Qt::LeftToRight ? at : 99 - at; };
        auto* panel = new QWidget;
        panel->setAutoFillBackground(true);
        QWidget holder;
        holder.setLayoutDirection(direction);
        holder.resize(100, 40);
        auto* ear = new DogEar(panel, 12, 12, &holder);
        ear->setGeometry(0, 0, 100, 40);
        const QImage image = WidgetRender::image(holder);
        EXPECT_EQ(image.pixelColor(x(98), 1).alpha(), 0) << "cut away";
        EXPECT_EQ(image.pixelColor(x(0), 0).alpha(), 0) << "rounded";
        EXPECT_EQ(image.pixelColor(x(10), 10).alpha(), 255);
    }
    // The flap and a surface's border lie over the content: neither is an accessible node nor takes the click.
    FenraPreferences::shared().setReduceTransparency(true);
    const auto inside = [](QToolButton* button) {
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        return button;
    };
    auto* underFlap = inside(new QToolButton);
    DogEar ear(underFlap);
    auto* underBorder = inside(new QToolButton);
    FenraSurfaceFrame frame(FenraSurface::panel, InsettableShape::rectangle(), false, underBorder);
    ASSERT_TRUE(frame.hasBorder());
    for (const auto& [window, button, at] : {std::tuple{static_cast<QWidget*>(&ear), underFlap, QPoint(89, 10)},
                                             std::tuple{static_cast<QWidget*>(&frame), underBorder, QPoint(50, 0)}}) {
        window->resize(100, 40);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
        EXPECT_EQ(window->childAt(at), button);
        QSignalSpy clicked(button, &QToolButton::clicked);
        QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {}, at);
        EXPECT_EQ(clicked.count(), 1);
    }
    QAccessibleInterface* node = QAccessible::queryAccessibleInterface(&ear);
    ASSERT_EQ(node->childCount(), 1);
    EXPECT_EQ(node->child(0)->object(), underFlap);
    FenraPreferences::shared().setReduceTransparency(false);
}

struct Painted : testing::Test {
    void TearDown() override {
        FenraPreferences::shared().setReduceTransparency(false);
        FenraPreferences::shared().setIncreaseContrast(false);
    }
    static QImage render(const FoldedTile& tile, const QPalette& palette = WidgetRender::lightPalette()) {
        QImage image(56, 56, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        tile.paint(painter, QPointF(0, 0), palette);
        return image;
    }
    // A surface over a transparent content widget; red separators make the border easy to find.
    static std::unique_ptr<FenraSurfaceFrame> surface(FenraSurface role, QPalette palette) {
        palette.setColor(QPalette::Mid, red);
        auto frame = std::make_unique<FenraSurfaceFrame>(role, InsettableShape::roundedRectangle(10), false, new QWidget);
        frame->setPalette(palette);
        frame->resize(100, 60);
        return frame;
    }
};

// The plus sign's strokes cross at the centre: white would not read on the light Kelto tint.
TEST_F(Painted, TheTileSymbolIsNavyOnKeltoAndWhiteElsewhereAndIncreasedContrastBordersIt) {
    expectNear(render(FoldedTile(FenraIcon::add, TileTint::kelto, 56)).pixelColor(27, 27), QColor(11, 20, 51));
    expectNear(render(FoldedTile(FenraIcon::add, TileTint::cobalt, 56)).pixelColor(27, 27), white);
    // Increased contrast borders the tile's edge pixels in the separator colour, nothing further in.
    QPalette palette = WidgetRender::lightPalette();
    palette.setColor(QPalette::Mid, red);
    const FoldedTile tile(FenraIcon::folder, TileTint::green, 56);
    const QImage plain = render(tile, palette);
    FenraPreferences::shared().setIncreaseContrast(true);
    const QImage bordered = render(tile, palette);
    using Edge = std::pair<QPoint, QPoint>;  // an edge pixel and the one inside it
    for (const auto& [edge, in] : {Edge{{28, 0}, {28, 1}}, Edge{{0, 28}, {1, 28}}, Edge{{55, 28}, {54, 28}},
                                   Edge{{28, 55}, {28, 54}}}) {
        EXPECT_GT(bordered.pixelColor(edge).red(), plain.pixelColor(edge).red() + 60) << edge.x() << ", " << edge.y();
        EXPECT_EQ(bordered.pixelColor(in), plain.pixelColor(in)) << in.x() << ", " << in.y();
    }
}

// Each role's material, in both looks, without a border; reduced transparency makes it solid with a border of one
// device pixel at any ratio; increased contrast borders the material too.
TEST_F(Painted, SurfacesTakeTheirMaterialAndBorderOnlyWhenAsked) {
    for (const QPalette& palette : {WidgetRender::lightPalette(), WidgetRender::darkPalette()})
        for (FenraSurface role : {FenraSurface::panel, FenraSurface::hud, FenraSurface::popover,
                                  FenraSurface::toolbarCapsule}) {
            auto frame = surface(role, palette);
            const QRgb expected =
                SurfaceMaterials::color(SurfaceMaterials::of(role, Appearance::scheme(palette)), palette).rgba();
            const QImage image = WidgetRender::image(*frame);
            EXPECT_EQ(image.pixel(50, 30), expected);
            EXPECT_EQ(image.pixel(50, 0), expected);
            EXPECT_EQ(image.pixelColor(0, 0).alpha(), 0);
        }
    auto solid = surface(FenraSurface::popover, WidgetRender::lightPalette());
    FenraPreferences::shared().setReduceTransparency(true);
    const QColor window = WidgetRender::lightPalette().color(QPalette::Window);
    for (const int ratio : {1, 2}) {
        const QImage image = WidgetRender::image(*solid, ratio);
        EXPECT_EQ(image.pixelColor(50 * ratio, 0), red) << ratio;
        EXPECT_EQ(image.pixelColor(50 * ratio, 1), window) << ratio;
        EXPECT_EQ(image.pixelColor(100 * ratio - 1, 30 * ratio), red) << ratio;
        EXPECT_EQ(image.pixelColor(100 * ratio - 2, 30 * ratio), window) << ratio;
    }
    FenraPreferences::shared().setReduceTransparency(false);
    auto hud = surface(FenraSurface::hud, WidgetRender::darkPalette());
    FenraPreferences::shared().setIncreaseContrast(true);
    EXPECT_EQ(WidgetRender::image(*hud).pixelColor(50, 0), red);
    FenraPreferences::shared().setIncreaseContrast(false);
    EXPECT_NE(WidgetRender::image(*hud).pixelColor(50, 0), red);
    // A group lays its content over its whole rectangle and paints nothing itself.
    auto* content = new QWidget;
    FenraSurfaceGroup group(8, content);
    group.resize(50, 30);
    EXPECT_EQ(WidgetRender::image(group).pixelColor(25, 15).alpha(), 0);
    EXPECT_EQ(content->geometry(), group.rect());
}

QImage paintedAtTwo(int side, const std::function<void(QPainter&)>& paint) {
    QImage expected(2 * side, 2 * side, QImage::Format_ARGB32_Premultiplied);
    expected.setDevicePixelRatio(2);
    expected.fill(Qt::transparent);
    QPainter painter(&expected);
    paint(painter);
    painter.end();
    return expected;
}

// What a folded tile's view or an icon label paints at ratio 2 is what its picture paints there itself.
TEST(IconLabel, RendersAtTwiceTheRatioAsSharpAsTheIconItself) {
    const FoldedTile tile(FenraIcon::sync, TileTint::cobalt, 20);
    FoldedTileView view(20);
    view.setTile(tile);
    view.setPalette(WidgetRender::lightPalette());
    EXPECT_EQ(WidgetRender::image(view, 2), paintedAtTwo(20, [&](QPainter& painter) {
                  painter.setRenderHint(QPainter::Antialiasing);
                  tile.paint(painter, QPointF(0, 0), view.palette());
              }));
    const QIcon icon = SymbolImage::icon(FenraIcon::warning, QColor(200, 120, 0));
    IconLabel label;
    label.setFixedSize(16, 16);
    label.setIcon(icon);
    EXPECT_EQ(WidgetRender::image(label, 2),
              paintedAtTwo(16, [&](QPainter& painter) { icon.paint(&painter, QRect(0, 0, 16, 16)); }));
}

}  // namespace
}  // namespace kelto
