#include "FenraCore/FenraIcon.h"
#include "FenraMac/MenuBarIcon.h"

#include <QPainter>
#include <QPainterPath>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace kelto {
namespace {

constexpr double ratio = 4;

// A mark covering its whole square, so every hole shows.
TemplateMark fullSquare() {
    return TemplateMark{[](const QRectF& rect) {
                            QPainterPath path;
                            path.addRect(rect);
                            return path;
                        },
                        Qt::WindingFill, true};
}

// A square with a smaller one inside it, both wound the same way.
TemplateMark nestedSquares(Qt::FillRule rule) {
    return TemplateMark{[](const QRectF& rect) {
                            QPainterPath path;
                            path.addRect(rect);
                            path.addRect(rect.adjusted(4, 4, -4, -4));
                            return path;
                        },
                        rule, true};
}

QImage render(const TemplateMark& mark, const MenuBarIconState& state) {
    const TemplateImage image = MenuBarIcon::image(mark, state, QStringLiteral("Kelto Sync"));
    return image.icon.pixmap(QSize(18, 18), ratio).toImage().convertToFormat(QImage::Format_ARGB32);
}

// The alpha at a point of the 18-point picture.
int alphaAt(const QImage& image, double x, double y) {
    return qAlpha(image.pixel(static_cast<int>(x * ratio), static_cast<int>(y * ratio)));
}

// Edges are antialiased, so probes allow a little coverage.
bool inked(const QImage& image, double x, double y) {
    return alphaAt(image, x, y) > 223;
}

bool empty(const QImage& image, double x, double y) {
    return alphaAt(image, x, y) < 32;
}

// The box, in points, around every point of the mark's square that a badge
// cleared; empty when none was.
QRectF clearedArea(const QImage& image) {
    QRectF area;
    for (int y = static_cast<int>(1 * ratio); y < static_cast<int>(17 * ratio); ++y) {
        for (int x = static_cast<int>(1 * ratio); x < static_cast<int>(17 * ratio); ++x) {
            if (qAlpha(image.pixel(x, y)) < 128) {
                area = area.united(QRectF(x / ratio, y / ratio, 1 / ratio, 1 / ratio));
            }
        }
    }
    return area;
}

TEST(MenuBarIcon, TheImageIsAnEighteenPointMaskWithItsDescription) {
    const TemplateImage image = MenuBarIcon::image(fullSquare(), MenuBarIconState::idle(), QStringLiteral("Kelto Sync"));
    EXPECT_TRUE(image.icon.isMask());
    EXPECT_EQ(image.accessibilityDescription, QStringLiteral("Kelto Sync"));
    EXPECT_EQ(image.icon.availableSizes(), QList<QSize>({QSize(18, 18)}));
    // Drawn afresh for each size: a larger pixmap is no blown-up small one.
    EXPECT_EQ(image.icon.pixmap(QSize(18, 18), 1).size(), QSize(18, 18));
    EXPECT_EQ(image.icon.pixmap(QSize(18, 18), 2).size(), QSize(36, 36));
    const QImage sharp = image.icon.pixmap(QSize(18, 18), ratio).toImage();
    EXPECT_EQ(qAlpha(sharp.pixel(3, 3)), 0);  // the one-point margin
    EXPECT_EQ(qAlpha(sharp.pixel(4, 4)), 255);
}

TEST(MenuBarIcon, IdleClearsNothing) {
    const QImage image = render(fullSquare(), MenuBarIconState::idle());
    EXPECT_TRUE(clearedArea(image).isEmpty());
    EXPECT_TRUE(empty(image, 0.5, 0.5));
}

TEST(MenuBarIcon, ProgressAtOrBelowZeroShowsTheRingAlone) {
    for (double fraction : {0.0, -0.3, std::numeric_limits<double>::quiet_NaN()}) {
        SCOPED_TRACE(fraction);
        const QImage image = render(fullSquare(), MenuBarIconState::progress(fraction));
        EXPECT_TRUE(empty(image, 14.5, 14.5));    // centre: no wedge
        EXPECT_TRUE(inked(image, 14.5, 12.0));  // on the ring
        EXPECT_TRUE(empty(image, 14.5, 11.3));   // gap between ring and mark
        EXPECT_TRUE(inked(image, 9, 9));
    }
}

TEST(MenuBarIcon, ProgressAtOrAboveOneFillsTheDisc) {
    for (double fraction : {1.0, 7.0}) {
        SCOPED_TRACE(fraction);
        const QImage image = render(fullSquare(), MenuBarIconState::progress(fraction));
        for (const QPointF& point : {QPointF(13.6, 13.6), QPointF(15.4, 13.6), QPointF(13.6, 15.4), QPointF(15.4, 15.4)}) {
            EXPECT_TRUE(inked(image, point.x(), point.y())) << point.x() << ", " << point.y();
        }
        EXPECT_TRUE(empty(image, 14.5, 11.3));
    }
}

TEST(MenuBarIcon, AQuarterRunsFromTwelveToThree) {
    const QImage image = render(fullSquare(), MenuBarIconState::progress(0.25));
    EXPECT_TRUE(inked(image, 15.4, 13.4));  // between twelve and three
    EXPECT_TRUE(empty(image, 13.4, 13.4));
    EXPECT_TRUE(empty(image, 15.4, 15.6));
    EXPECT_TRUE(empty(image, 13.4, 15.6));
}

TEST(MenuBarIcon, AttentionSitsTopRightAndTheOtherBadgesBottomRight) {
    const QImage attention = render(fullSquare(), MenuBarIconState::attention());
    EXPECT_TRUE(inked(attention, 15, 3));   // the dot
    EXPECT_TRUE(empty(attention, 15, 5.6));   // its gap
    const QRectF top = clearedArea(attention);
    EXPECT_GE(top.top(), 0);
    EXPECT_LE(top.bottom(), 6);
    EXPECT_GE(top.left(), 12);

    const QImage paused = render(fullSquare(), MenuBarIconState::paused());
    EXPECT_TRUE(inked(paused, 13.25, 14.5));  // bars
    EXPECT_TRUE(inked(paused, 16.25, 14.5));
    EXPECT_TRUE(empty(paused, 14.75, 14.5));    // between them
    for (const MenuBarIconState& state : {MenuBarIconState::paused(), MenuBarIconState::progress(0.5)}) {
        const QRectF bottom = clearedArea(render(fullSquare(), state));
        EXPECT_GE(bottom.top(), 11);
        EXPECT_LE(bottom.bottom(), 18);
        EXPECT_GE(bottom.left(), 11);
    }
}

TEST(MenuBarIcon, TheMarksFillRuleDecidesItsCutOuts) {
    EXPECT_TRUE(empty(render(nestedSquares(Qt::OddEvenFill), MenuBarIconState::idle()), 9, 9));
    EXPECT_TRUE(inked(render(nestedSquares(Qt::WindingFill), MenuBarIconState::idle()), 9, 9));
}

TEST(MenuBarIcon, WithoutAnActivePainterNothingIsDrawn) {
    EXPECT_FALSE(MenuBarIcon::draw(nullptr, fullSquare(), MenuBarIconState::idle()));
    QPainter idle;
    EXPECT_FALSE(MenuBarIcon::draw(&idle, fullSquare(), MenuBarIconState::attention()));
    QImage image(18, 18, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    EXPECT_TRUE(MenuBarIcon::draw(&painter, fullSquare(), MenuBarIconState::idle()));
}

TEST(MenuBarIcon, StatesCompareByCaseAndFraction) {
    EXPECT_EQ(MenuBarIconState::progress(0.5), MenuBarIconState::progress(0.5));
    EXPECT_NE(MenuBarIconState::progress(0.5), MenuBarIconState::progress(0.25));
    EXPECT_NE(MenuBarIconState::paused(), MenuBarIconState::attention());
    EXPECT_NE(MenuBarIconState::progress(0), MenuBarIconState::idle());
    const MenuBarIconState unknown = MenuBarIconState::progress(std::nan(""));
    EXPECT_FALSE(unknown == unknown);
}

TEST(TemplateImage, ASymbolWithoutArtworkGivesNothing) {
    EXPECT_FALSE(TemplateImage::named(QStringLiteral("no.such.symbol")).has_value());
    const std::optional<TemplateImage> add = TemplateImage::symbol(FenraIcon::add, QStringLiteral("Add"));
    ASSERT_TRUE(add.has_value());
    EXPECT_TRUE(add->icon.isMask());
    EXPECT_EQ(add->accessibilityDescription, QStringLiteral("Add"));
}

}  // namespace
}  // namespace kelto
