#include "FenraCore/FenraTheme.h"
#include "FenraCore/SymbolImage.h"
#include "KeltoDesign/KeltoIcon.h"
#include "KeltoDesign/KeltoLogo.h"
#include "KeltoDesign/KeltoMonochromeIcon.h"
#include "KeltoDesign/KeltoProductMark.h"
#include "tests/support/widgets/WidgetRender.h"

#include <QPainter>

#include <gtest/gtest.h>

namespace kelto {
namespace {

// The sync mark keeps its height in a wider rectangle and centres in it;
// the template mark draws the same path.
TEST(KeltoProductMark, TheSyncMarkFillsItsSquareAndCentresInAWiderOne) {
    const QPainterPath square = KeltoProductMarks::path(KeltoProductMark::sync, QRectF(0, 0, 16, 16));
    EXPECT_EQ(QPointF(square.elementAt(0)), QPointF(1.2, 7.7));
    EXPECT_EQ(QPointF(square.elementAt(16)), QPointF(4.2, 15.4));  // lower arrowhead
    EXPECT_EQ(KeltoProductMarks::path(KeltoProductMark::sync, QRectF(0, 0, 32, 16)), square.translated(8, 0));
    const TemplateMark mark = KeltoProductMarks::templateMark(KeltoProductMark::sync);
    EXPECT_EQ(mark.fillRule, Qt::WindingFill);
    EXPECT_EQ(mark.path(QRectF(1, 1, 16, 16)), square.translated(1, 1));
}

TEST(KeltoLogo, TheBoxIsScaledToTheShorterSideAndCentred) {
    const QTransform placement = KeltoLogo::placement(QSizeF(200, 100));
    EXPECT_EQ(placement.map(QPointF(0, 0)), QPointF(50, 0));
    EXPECT_EQ(placement.map(QPointF(64, 64)), QPointF(150, 100));
    KeltoLogo logo;
    logo.resize(200, 100);
    const QImage image = WidgetRender::image(logo);
    int outside = 0, inside = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) (x < 50 || x >= 150 ? outside : inside) += qAlpha(image.pixel(x, y)) > 0;
    }
    EXPECT_EQ(outside, 0);
    EXPECT_GT(inside, 0);
}

// Every polygon runs clockwise but P8, the table, a hole cut in P3; in
// colour the table is P3's yellow.
TEST(KeltoLogo, TheTemplateLeavesP8AsAHoleInP3) {
    const auto& polygons = KeltoLogo::polygons();
    for (std::size_t index = 0; index < polygons.size(); ++index) {
        const QPolygonF& polygon = polygons[index];
        double area = 0;  // shoelace: positive runs clockwise on screen
        for (qsizetype i = 0; i < polygon.size(); ++i) {
            const QPointF a = polygon[i], b = polygon[(i + 1) % polygon.size()];
            area += a.x() * b.y() - b.x() * a.y();
        }
        EXPECT_EQ(area > 0, index != 7) << "P" << index + 1;
    }
    const QPointF table = polygons[7].boundingRect().center();
    EXPECT_TRUE(polygons[2].containsPoint(table, Qt::OddEvenFill));
    const auto render = [](KeltoLogo::Style style) {
        QImage image(64, 64, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        KeltoLogo::paint(painter, QRectF(0, 0, 64, 64), style, Qt::black);
        return image;
    };
    const QImage stencil = render(KeltoLogo::Style::template_);
    const auto alpha = [&stencil](QPointF point) { return qAlpha(stencil.pixel(point.toPoint())); };
    EXPECT_EQ(alpha(table), 0);
    EXPECT_EQ(alpha(polygons[0].boundingRect().center() - QPointF(4, 4)), 255);  // P1
    EXPECT_EQ(alpha(QPointF(55, 55)), 255);                                    // P2
    EXPECT_EQ(alpha(QPointF(32, 20)), 255);                                    // P3 outside the table
    EXPECT_EQ(render(KeltoLogo::Style::color).pixelColor(table.toPoint()), FenraTheme::kelto().light.color());
}

TEST(KeltoIcon, EveryGlyphHasArtworkAndRoundTripsItsRawValue) {
    for (KeltoIcon icon : KeltoIcons::allCases()) {
        EXPECT_EQ(KeltoIcons::fromRawValue(KeltoIcons::rawValue(icon)), icon);
        EXPECT_TRUE(SymbolImage::hasArtwork(symbolName(icon))) << symbolName(icon).toStdString();
    }
}

TEST(KeltoMonochromeIcon, TheTintFollowsThePalettesAppearance) {
    for (const WidgetRender::Look& look : WidgetRender::looks()) {
        KeltoMonochromeIcon icon(KeltoIcon::permissionLoginItem, 24, FenraTheme::accent());
        icon.setPalette(look.palette);
        icon.resize(icon.sizeHint());
        const QImage image = WidgetRender::image(icon);
        const QColor expected = FenraTheme::accent().color(look.palette);
        int inked = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor pixel = WidgetRender::pixel(image, x, y);
                if (pixel.alpha() < 255) continue;
                ++inked;
                EXPECT_EQ(pixel.rgb(), expected.rgb()) << look.name;
            }
        }
        EXPECT_GT(inked, 0) << look.name;
    }
}

}  // namespace
}  // namespace kelto
