#include "KeltoPermissions/CompanionLayout.h"
#include "Platform/Desktop/SettingsWindowGeometry.h"

#include <gtest/gtest.h>

namespace kelto {
namespace {

const QRectF screen(0, 0, 1440, 875);
const QSizeF panel(300, 400);

TEST(CompanionLayout, RightLeftClampedAndCut) {
    // Room on the right: 12 beside, top edges level.
    EXPECT_EQ(CompanionLayout::frame(QRectF(200, 100, 600, 500), screen, panel, 12), QRectF(812, 100, 300, 400));
    // No room on the right: on the left.
    EXPECT_EQ(CompanionLayout::frame(QRectF(900, 100, 500, 500), screen, panel, 12), QRectF(588, 100, 300, 400));
    // Room on neither side, window low on the screen: kept inside.
    EXPECT_EQ(CompanionLayout::frame(QRectF(100, 700, 1300, 300), screen, panel, 12), QRectF(0, 475, 300, 400));
    // A panel larger than the screen is cut to it.
    EXPECT_EQ(CompanionLayout::frame(QRectF(200, 100, 600, 500), QRectF(0, 30, 800, 600), QSizeF(900, 700), 12),
              QRectF(0, 30, 800, 600));
    // Without the window: at the right edge, vertically centred.
    EXPECT_EQ(CompanionLayout::fallback(screen, panel, 12), QRectF(1128, 237.5, 300, 400));
    EXPECT_EQ(CompanionLayout::fallback(QRectF(0, 0, 200, 300), panel, 12), QRectF(0, 0, 200, 300));
}

TEST(SettingsWindowGeometry, LargestWindowAndItsScreen) {
    using G = SettingsWindowGeometry;
    EXPECT_FALSE(G::largestWindow({}));
    EXPECT_FALSE(G::largestWindow({QRectF(0, 0, 0, 100)})) << "an empty window is no window";
    EXPECT_EQ(G::largestWindow({QRectF(0, 0, 100, 100), QRectF(5, 5, 200, 100), QRectF(9, 9, 100, 200)}),
              QRectF(5, 5, 200, 100))
        << "ties go to the earlier";
    const G::Screen left{QRectF(0, 0, 1000, 800), QRectF(0, 30, 1000, 770)};
    const G::Screen right{QRectF(1000, 0, 1000, 800), QRectF(1000, 0, 1000, 800)};
    EXPECT_EQ(G::screenOf(QRectF(900, 0, 300, 100), {left, right}), 1u);
    EXPECT_EQ(G::screenOf(QRectF(900, 0, 200, 100), {left, right}), 0u) << "equal overlap: the earlier";
    EXPECT_EQ(G::screenOf(QRectF(5000, 0, 10, 10), {left, right}), 0u) << "off every screen: the first";
    EXPECT_FALSE(G::screenOf(QRectF(0, 0, 10, 10), {}));
    // A screen above the primary one has negative y; its own area is used.
    const G::Screen above{QRectF(0, -1080, 1920, 1080), QRectF(0, -1050, 1920, 1050)};
    const auto geometry = G::locate({QRectF(100, -900, 800, 600)}, {left, above});
    ASSERT_TRUE(geometry);
    EXPECT_EQ(geometry->frame, QRectF(100, -900, 800, 600));
    EXPECT_EQ(geometry->visibleFrame, above.visibleFrame);
    EXPECT_FALSE(G::locate({}, {left}));
    EXPECT_FALSE(G::locate({QRectF(0, 0, 10, 10)}, {}));
}

}  // namespace
}  // namespace kelto
