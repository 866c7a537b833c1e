// What the kit paints: symbols, labels, dog ears, folded tiles, surfaces,
// and views painting at the ratio of what they are painted on.
#include <QAccessible>
#include <QLabel>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include "FenraCore/Appearance.h"
#include "FenraCore/DogEar.h"
#include "FenraCore/FenraIcon.h"
#include "FenraCore/FenraLabel.h"
#include "FenraCore/FenraPreferences.h"
#include "FenraCore/FenraSurfaceFrame.h"
#include "FenraCore/FenraSurfaceGroup.h"
#include "FenraCore/FoldedTile.h"
#include "FenraCore/FoldedTileView.h"
#include "FenraCore/IconLabel.h"
#include "FenraCore/SurfaceMaterial.h"
#include "FenraCore/SymbolImage.h"
#include "tests/support/widgets/WidgetRender.h"

#include <gtest/gtest.h>

namespace kelto {
namespace {

const QColor coral(255, 90, 78), white(255, 255, 255), red(255, 0, 0);

using Coverage = WidgetRender::Coverage;
Coverage coverageOf(const QImage& image, const QColor& tint) { return WidgetRender::coverage(image, tint); }

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
    for (FenraIcon icon : FenraIcons::allCases()) {
        const QString name = symbolName(icon);
        SCOPED_TRACE(name.toStdString());
        ASSERT_TRUE(SymbolImage::hasArtwork(name));
        const Coverage coverage = coverageOf(SymbolImage::icon(icon, tint).pixmap(QSize(24, 24), 1.0).toImage(), tint);
        EXPECT_GT(coverage.painted, 24);
        EXPECT_EQ(coverage.offTint, 0);
    }
    const QIcon folder = SymbolImage::icon(FenraIcon::folder, Qt::black);
    EXPECT_EQ(folder.pixmap(QSize(20, 20), 2.0).size(), QSize(40, 40));
    EXPECT_GT(coverageOf(folder.pixmap(QSize(64, 64), 1.0).toImage(), Qt::black).painted,
              3 * coverageOf(folder.pixmap(QSize(32, 32), 1.0).toImage(), Qt::black).painted);
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
    const Coverage coverage = coverageOf(icon->pixmap().toImage(), QColor(0, 128, 0));
    EXPECT_GT(coverage.painted, 0);
    EXPECT_EQ(coverage.offTint, 0);
}

// A dog ear in a transparent holder, as used. In 100 × 40 with a 12-point fold, pixel 89 lies 1.5 points into the
// flap's square below the cut, pixel 96 in the shade; right to left mirrors it.
TEST(DogEar, TheFlapAndClipFollowTheLayoutDirectionAndTheFlapTakesNoClicks) {
    for (const Qt::LayoutDirection direction : {Qt::LeftToRight, Qt::RightToLeft}) {
        const bool ltr = direction == Qt::LeftToRight;
        const auto x = [ltr](int at) { return ltr ? at : 99 - at; };
        auto* panel = new QWidget;
        panel->setAutoFillBackground(true);
        QPalette palette = panel->palette();
        palette.setColor(QPalette::Window, white);
        panel->setPalette(palette);
        QWidget holder;
        holder.setLayoutDirection(direction);
        holder.resize(100, 40);
        auto* ear = new DogEar(panel, 12, 12, &holder);
        ear->setGeometry(0, 0, 100, 40);
        ASSERT_EQ(ear->layoutDirection(), direction);
        const QImage image = WidgetRender::image(holder);
        EXPECT_EQ(image.pixelColor(x(98), 1).alpha(), 0) << "cut away";
        EXPECT_EQ(image.pixelColor(x(0), 0).alpha(), 0) << "rounded";
        expectNear(image.pixelColor(x(89), 10), coral);
        expectNear(image.pixelColor(x(96), 11), DogEar::foldShade().color(ColorScheme::light));
        expectNear(image.pixelColor(x(10), 10), white);
        expectNear(image.pixelColor(50, 39), white);
    }
    // The flap and a surface's border are drawn over the content: neither is an accessible node nor takes the click.
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

// The plus sign's strokes cross at the centre: navy on the light Kelto tint, white on others; then the fold and
// the rounded corner.
TEST_F(Painted, TheTileSymbolIsNavyOnKeltoAndWhiteElsewhereAndIncreasedContrastBordersIt) {
    expectNear(render(FoldedTile(FenraIcon::add, TileTint::kelto, 56)).pixelColor(27, 27), QColor(11, 20, 51));
    const QImage cobalt = render(FoldedTile(FenraIcon::add, TileTint::cobalt, 56));
    expectNear(cobalt.pixelColor(27, 27), white);
    expectNear(cobalt.pixelColor(53, 11), TileTints::shadow(TileTint::cobalt).color(), 2);
    EXPECT_EQ(cobalt.pixelColor(0, 0).alpha(), 0);
    // Increased contrast adds half a pixel of the separator colour over the tile's edge pixels, nothing further in.
    QPalette palette = WidgetRender::lightPalette();
    palette.setColor(QPalette::Mid, red);
    const FoldedTile tile(FenraIcon::folder, TileTint::green, 56);
    const QColor base(30, 154, 98);
    expectNear(render(tile, palette).pixelColor(28, 0), base);
    FenraPreferences::shared().setIncreaseContrast(true);
    const QImage bordered = render(tile, palette);
    for (const QPoint edge : {QPoint(28, 0), QPoint(0, 28), QPoint(55, 28), QPoint(28, 55)}) {
        EXPECT_GT(bordered.pixelColor(edge).red(), base.red() + 60) << edge.x() << ", " << edge.y();
        EXPECT_LT(bordered.pixelColor(edge).green(), base.green() - 40) << edge.x() << ", " << edge.y();
    }
    expectNear(bordered.pixelColor(28, 1), base);
    expectNear(bordered.pixelColor(1, 28), base);
}

// Each role's material, in both looks, without a border; reduced transparency makes it solid with a border of one
// device pixel at any ratio; increased contrast borders the material too.
TEST_F(Painted, SurfacesTakeTheirMaterialAndBorderOnlyWhenAsked) {
    for (const QPalette& palette : {WidgetRender::lightPalette(), WidgetRender::darkPalette()})
        for (FenraSurface role : {FenraSurface::panel, FenraSurface::hud, FenraSurface::popover,
                                  FenraSurface::toolbarCapsule}) {
            auto frame = surface(role, palette);
            EXPECT_EQ(frame->rendering(), SurfaceRendering::material);
            EXPECT_FALSE(frame->hasBorder());
            const QRgb expected =
                SurfaceMaterials::color(SurfaceMaterials::of(role, Appearance::scheme(palette)), palette).rgba();
            const QImage image = WidgetRender::image(*frame);
            EXPECT_EQ(image.pixel(50, 30), expected);
            EXPECT_EQ(image.pixel(50, 0), expected);
            EXPECT_EQ(image.pixelColor(0, 0).alpha(), 0);
        }
    auto solid = surface(FenraSurface::popover, WidgetRender::lightPalette());
    FenraPreferences::shared().setReduceTransparency(true);
    EXPECT_EQ(solid->rendering(), SurfaceRendering::solid);
    EXPECT_TRUE(solid->hasBorder());
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
    EXPECT_EQ(hud->rendering(), SurfaceRendering::material);
    EXPECT_TRUE(hud->hasBorder());
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

// What a view paints at ratio 2 is what its picture paints there itself.
QImage paintedAtTwo(int side, const std::function<void(QPainter&)>& paint) {
    QImage expected(2 * side, 2 * side, QImage::Format_ARGB32_Premultiplied);
    expected.setDevicePixelRatio(2);
    expected.fill(Qt::transparent);
    QPainter painter(&expected);
    paint(painter);
    painter.end();
    return expected;
}

// A folded tile's view and an icon label.
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
