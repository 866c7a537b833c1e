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

QPointF pointAt(const QPainterPath& path, int index) {
    return path.elementAt(index);
}

TEST(KeltoProductMark, TheSyncMarkFillsItsSquareAtTheDesignPoints) {
    const QPainterPath square = KeltoProductMarks::path(KeltoProductMark::sync, QRectF(0, 0, 16, 16));
    EXPECT_EQ(pointAt(square, 0), QPointF(1.2, 7.7));
    EXPECT_EQ(pointAt(square, 4), QPointF(11.8, 0.6));    // upper arrowhead
    EXPECT_EQ(pointAt(square, 5), QPointF(14.9, 6.3));
    EXPECT_EQ(pointAt(square, 12), QPointF(14.8, 8.3));   // second arc
    EXPECT_EQ(pointAt(square, 16), QPointF(4.2, 15.4));   // lower arrowhead
    EXPECT_EQ(pointAt(square, 17), QPointF(1.1, 9.7));

    // In a wider rectangle it keeps its height and centres: 8 units each side.
    const QPainterPath wide = KeltoProductMarks::path(KeltoProductMark::sync, QRectF(0, 0, 32, 16));
    EXPECT_EQ(wide, square.translated(8, 0));

    const TemplateMark mark = KeltoProductMarks::templateMark(KeltoProductMark::sync);
    EXPECT_EQ(mark.fillRule, Qt::WindingFill);
    EXPECT_TRUE(mark.antialiased);
    EXPECT_EQ(mark.path(QRectF(1, 1, 16, 16)), square.translated(1, 1));
}

TEST(KeltoLogo, TheBoxIsScaledToTheShorterSideAndCentred) {
    const QTransform placement = KeltoLogo::placement(QSizeF(200, 100));
    EXPECT_EQ(placement.map(QPointF(0, 0)), QPointF(50, 0));
    EXPECT_EQ(placement.map(QPointF(64, 64)), QPointF(150, 100));

    KeltoLogo logo;
    logo.resize(200, 100);
    const QImage image = WidgetRender::image(logo);
    int outside = 0;
    int inside = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const bool painted = qAlpha(image.pixel(x, y)) > 0;
            (x < 50 || x >= 150 ? outside : inside) += painted ? 1 : 0;
        }
    }
    EXPECT_EQ(outside, 0);
    EXPECT_GT(inside, 0);
}

TEST(KeltoLogo, TheTemplateLeavesP8AsAHoleInP3) {
    const auto& polygons = KeltoLogo::polygons();
    for (std::size_t index = 0; index < polygons.size(); ++index) {
        const QPolygonF& polygon = polygons[index];
        EXPECT_GE(polygon.size(), 4);
        EXPECT_LE(polygon.size(), 11);
        // Shoelace area: positive runs clockwise on screen (y down).
        double area = 0;
        for (qsizetype i = 0; i < polygon.size(); ++i) {
            const QPointF a = polygon[i];
            const QPointF b = polygon[(i + 1) % polygon.size()];
            area += a.x() * b.y() - b.x() * a.y();
        }
        EXPECT_EQ(area > 0, index != 7) << "P" << index + 1;
    }
    const QPointF table = polygons[7].boundingRect().center();
    EXPECT_TRUE(polygons[2].containsPoint(table, Qt::OddEvenFill));

    auto render = [](KeltoLogo::Style style) {
        QImage image(64, 64, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        KeltoLogo::paint(painter, QRectF(0, 0, 64, 64), style, Qt::black);
        return image;
    };
    const QImage stencil = render(KeltoLogo::Style::template_);
    auto alpha = [&stencil](QPointF point) { return qAlpha(stencil.pixel(point.toPoint())); };
    EXPECT_EQ(alpha(table), 0);
    EXPECT_EQ(alpha(polygons[0].boundingRect().center() - QPointF(4, 4)), 255);  // P1
    EXPECT_EQ(alpha(QPointF(55, 55)), 255);                                    // P2
    EXPECT_EQ(alpha(QPointF(32, 20)), 255);                                    // P3 outside the table

    // In colour the table is P3's yellow.
    EXPECT_EQ(render(KeltoLogo::Style::color).pixelColor(table.toPoint()), FenraTheme::kelto().light.color());
}

TEST(KeltoIcon, RawValuesAreTheCaseNamesAndEveryGlyphHasArtwork) {
    EXPECT_EQ(KeltoIcons::fromRawValue("permissionFullDisk"), KeltoIcon::permissionFullDisk);
    EXPECT_EQ(KeltoIcons::fromRawValue("gearshape"), std::nullopt);
    EXPECT_EQ(KeltoIcons::fromRawValue("PermissionFullDisk"), std::nullopt);
    EXPECT_EQ(symbolName(KeltoIcon::paneGeneral), QStringLiteral("gearshape"));
    for (KeltoIcon icon : KeltoIcons::allCases()) {
        EXPECT_EQ(KeltoIcons::fromRawValue(KeltoIcons::rawValue(icon)), icon);
        EXPECT_TRUE(SymbolImage::hasArtwork(symbolName(icon))) << symbolName(icon).toStdString();
    }
}

TEST(KeltoMonochromeIcon, TheTintFollowsThePalettesAppearance) {
    for (const bool dark : {false, true}) {
        KeltoMonochromeIcon icon(KeltoIcon::permissionLoginItem, 24, FenraTheme::accent());
        icon.setPalette(dark ? WidgetRender::darkPalette() : WidgetRender::lightPalette());
        icon.resize(icon.sizeHint());
        const QImage image = WidgetRender::image(icon);
        const QColor expected = (dark ? FenraTheme::accent().dark : FenraTheme::accent().light).color();
        int inked = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor pixel = WidgetRender::pixel(image, x, y);
                if (pixel.alpha() == 255) {
                    ++inked;
                    EXPECT_EQ(pixel.rgb(), expected.rgb());
                }
            }
        }
        EXPECT_GT(inked, 0) << (dark ? "dark" : "light");
    }
}

}  // namespace
}  // namespace kelto
