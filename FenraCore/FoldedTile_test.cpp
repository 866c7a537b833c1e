#include "FenraCore/FoldedTile.h"

#include <gtest/gtest.h>

using namespace kelto;

namespace {

TEST(FoldedTile, FoldAndCreaseSitInTheTopRightCornerAndScaleWithTheSide) {
    const FoldedTile::Geometry g = FoldedTile::geometry(56);
    EXPECT_DOUBLE_EQ(g.cornerRadius, 12.6);
    EXPECT_EQ(g.foldTriangle.boundingRect(), QRectF(43, 0, 13, 13));
    // From (43, 0) to the right edge at 13, up to where the corner meets it, and back.
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
