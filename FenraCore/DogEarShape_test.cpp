#include "FenraCore/DogEarShape.h"

#include <gtest/gtest.h>
#include <vector>

using namespace kelto;

namespace {

// The outline passes through these points; Qt stores each quadratic curve as
// a cubic, whose two control points are left out.
void expectPoints(const QPainterPath& path, const std::vector<QPointF>& expected) {
    std::vector<QPointF> actual;
    for (int i = 0; i < path.elementCount(); ++i) {
        if (path.elementAt(i).type == QPainterPath::CurveToElement) i += 2;
        actual.emplace_back(path.elementAt(i).x, path.elementAt(i).y);
    }
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_NEAR(actual[i].x(), expected[i].x(), 1e-9) << "point " << i;
        EXPECT_NEAR(actual[i].y(), expected[i].y(), 1e-9) << "point " << i;
    }
}

TEST(DogEarShape, OutlineCutsTheTopRightCornerAndAnInsetKeepsTheCutParallel) {
    const QPainterPath path = DogEarShape(12, 12).path(QRectF(0, 0, 100, 40));
    expectPoints(path, {{12, 0}, {88, 0}, {100, 12}, {100, 28}, {88, 40}, {12, 40}, {0, 28}, {0, 12}, {12, 0}});
    EXPECT_FALSE(path.contains(QPointF(99, 1)));
    EXPECT_TRUE(path.contains(QPointF(50, 20)));
    const double fold = 10.82842712474619;  // 12 less the inset times 2 - sqrt 2
    expectPoints(DogEarShape(12, 12).inset(2).path(QRectF(0, 0, 100, 40)),
                 {{12, 2}, {98 - fold, 2}, {98, 2 + fold}, {98, 28}, {88, 38}, {12, 38}, {2, 28}, {2, 12}, {12, 2}});
}

TEST(DogEarShape, LimitsOfRadiusFoldAndArea) {
    // A radius smaller than the inset gives square corners.
    const QPainterPath square = DogEarShape(6, 1).inset(2).path(QRectF(0, 0, 40, 40));
    EXPECT_EQ(square.boundingRect(), QRectF(2, 2, 36, 36));
    for (const QPointF corner : {QPointF(2.01, 37.99), QPointF(37.99, 37.99), QPointF(2.01, 2.01)})
        EXPECT_TRUE(square.contains(corner));
    EXPECT_FALSE(square.contains(QPointF(37.9, 2.1)));
    // A fold longer than the shorter side is cut to it; a radius over half of it
    // to the half (the left edge then has no length, and Qt drops it).
    expectPoints(DogEarShape(50, 30).path(QRectF(0, 0, 100, 20)),
                 {{10, 0}, {80, 0}, {100, 20}, {100, 10}, {90, 20}, {10, 20}, {0, 10}, {10, 0}});
    EXPECT_TRUE(DogEarShape(12, 12).path(QRectF(0, 0, 0, 40)).isEmpty());
    EXPECT_TRUE(DogEarShape(12, 12).path(QRectF(0, 0, 40, 0)).isEmpty());
    EXPECT_TRUE(DogEarShape(12, 12).inset(20).path(QRectF(0, 0, 100, 40)).isEmpty());
    EXPECT_FALSE(DogEarShape(12, 12).inset(-5).path(QRectF(0, 0, 0, 0)).isEmpty());  // a negative inset is none
}

}  // namespace
