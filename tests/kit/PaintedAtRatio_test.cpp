// Views that paint their picture at the ratio of what they are painted on.
#include "FenraCore/FenraIcon.h"
#include "FenraCore/FoldedTileView.h"
#include "FenraCore/IconLabel.h"
#include "FenraCore/SymbolImage.h"
#include "tests/support/widgets/WidgetRender.h"

#include <QPainter>

#include <gtest/gtest.h>

namespace kelto {
namespace {

TEST(FoldedTileView, RendersAtTwiceTheRatioAsSharpAsTheTileItself) {
    const FoldedTile tile(FenraIcon::sync, TileTint::cobalt, 20);
    FoldedTileView view(20);
    view.setTile(tile);
    view.setPalette(WidgetRender::lightPalette());

    QImage expected(40, 40, QImage::Format_ARGB32_Premultiplied);
    expected.setDevicePixelRatio(2);
    expected.fill(Qt::transparent);
    {
        QPainter painter(&expected);
        painter.setRenderHint(QPainter::Antialiasing);
        tile.paint(painter, QPointF(0, 0), view.palette());
    }
    EXPECT_EQ(WidgetRender::image(view, 2), expected);
}

TEST(IconLabel, RendersAtTwiceTheRatioAsSharpAsTheIconItself) {
    const QIcon icon = SymbolImage::icon(FenraIcon::warning, QColor(200, 120, 0));
    IconLabel label;
    label.setFixedSize(16, 16);
    label.setIcon(icon);

    QImage expected(32, 32, QImage::Format_ARGB32_Premultiplied);
    expected.setDevicePixelRatio(2);
    expected.fill(Qt::transparent);
    {
        QPainter painter(&expected);
        icon.paint(&painter, QRect(0, 0, 16, 16));
    }
    EXPECT_EQ(WidgetRender::image(label, 2), expected);
}

}  // namespace
}  // namespace kelto
