#include "FenraCore/FoldedTile.h"

#include <gtest/gtest.h>

namespace kelto {
namespace {

TEST(FoldedTile, FiguresScaleWithTheSide) {
    const FoldedTile::Geometry at20 = FoldedTile::geometry(20);
    EXPECT_DOUBLE_EQ(at20.cornerRadius, 4.5);
    EXPECT_DOUBLE_EQ(at20.fold, 4.642857142857143);
    EXPECT_DOUBLE_EQ(at20.symbolSize, 12);
    const FoldedTile::Geometry at22 = FoldedTile::geometry(22);
    EXPECT_DOUBLE_EQ(at22.cornerRadius, 4.95);
    EXPECT_DOUBLE_EQ(at22.symbolSize, 13.2);
    const FoldedTile::Geometry at28 = FoldedTile::geometry(28);
    EXPECT_DOUBLE_EQ(at28.cornerRadius, 6.3);
    EXPECT_DOUBLE_EQ(at28.fold, 6.5);
    EXPECT_DOUBLE_EQ(at28.symbolSize, 16.8);
}

TEST(FoldedTile, FoldAndCreaseSitInTheTopRightCorner) {
    const FoldedTile::Geometry g = FoldedTile::geometry(56);
    EXPECT_DOUBLE_EQ(g.cornerRadius, 12.6);
    EXPECT_EQ(g.foldTriangle.boundingRect(), QRectF(43, 0, 13, 13));
    // The crease runs from (43, 0) to the right edge at 13, back up to 12.6,
    // where the rounded corner meets the edge, and curves back to the start.
    const QPainterPath& crease = g.crease;
    ASSERT_EQ(crease.elementCount(), 6);
    EXPECT_EQ(QPointF(crease.elementAt(0)), QPointF(43, 0));
    EXPECT_EQ(QPointF(crease.elementAt(1)), QPointF(56, 13));
    EXPECT_EQ(QPointF(crease.elementAt(2)), QPointF(56, 12.6));
    EXPECT_EQ(QPointF(crease.elementAt(5)), QPointF(43, 0));
    EXPECT_TRUE(g.outline.contains(QPointF(28, 0.5)));
    EXPECT_FALSE(g.outline.contains(QPointF(55.5, 0.5)));
}

}  // namespace
}  // namespace kelto
