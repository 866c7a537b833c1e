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

// A mark covering its whole square, so every hole shows; or a square with a smaller one inside, wound alike.
TemplateMark squares(bool nested, Qt::FillRule rule = Qt::WindingFill) {
    return TemplateMark{[nested](const QRectF& rect) {
                            QPainterPath path;
                            path.addRect(rect);
                            if (nested) path.addRect(rect.adjusted(4, 4, -4, -4));
                            return path;
                        },
                        rule, true};
}
TemplateMark fullSquare() { return squares(false); }

QImage render(const TemplateMark& mark, const MenuBarIconState& state) {
    const TemplateImage image = MenuBarIcon::image(mark, state, QStringLiteral("Kelto Sync"));
    return image.icon.pixmap(QSize(18, 18), ratio).toImage().convertToFormat(QImage::Format_ARGB32);
}

// The alpha at a point of the 18-point picture.
int alphaAt(const QImage& image, double x, double y) {
    return qAlpha(image.pixel(static_cast<int>(x * ratio), static_cast<int>(y * ratio)));
}

// Edges are antialiased, so probes allow a little coverage.
bool inked(const QImage& image, double x, double y) { return alphaAt(image, x, y) > 223; }
bool empty(const QImage& image, double x, double y) { return alphaAt(image, x, y) < 32; }

// A mask drawn afresh for each size with a one-point margin, named; a symbol without artwork gives none; nothing is
// drawn without an active painter.
TEST(MenuBarIcon, AnEighteenPointMaskWithItsDescriptionAndEachStatesBadge) {
    const TemplateImage image = MenuBarIcon::image(fullSquare(), MenuBarIconState::idle(), QStringLiteral("Kelto Sync"));
    EXPECT_TRUE(image.icon.isMask());
    EXPECT_EQ(image.accessibilityDescription, QStringLiteral("Kelto Sync"));
    EXPECT_EQ(image.icon.pixmap(QSize(18, 18), 2).size(), QSize(36, 36));
    const QImage sharp = image.icon.pixmap(QSize(18, 18), ratio).toImage();
    EXPECT_EQ(qAlpha(sharp.pixel(3, 3)), 0);
    EXPECT_EQ(qAlpha(sharp.pixel(4, 4)), 255);
    EXPECT_FALSE(TemplateImage::named(QStringLiteral("no.such.symbol")).has_value());
    const std::optional<TemplateImage> add = TemplateImage::symbol(FenraIcon::add, QStringLiteral("Add"));
    ASSERT_TRUE(add.has_value());
    EXPECT_TRUE(add->icon.isMask());
    EXPECT_EQ(add->accessibilityDescription, QStringLiteral("Add"));
    EXPECT_FALSE(MenuBarIcon::draw(nullptr, fullSquare(), MenuBarIconState::idle()));
    QPainter idle;
    EXPECT_FALSE(MenuBarIcon::draw(&idle, fullSquare(), MenuBarIconState::attention()));
    // Where each state's badge inks and leaves a gap: at or below zero the ring alone, at or above one the full disc,
    // a quarter from twelve to three; attention top right, the others bottom right, each clearing the mark only
    // around it; the mark's fill rule cuts its holes.
    struct Row {
        const char* name;
        MenuBarIconState state;
        std::vector<QPointF> inkedAt, emptyAt;
    };
    const std::vector<QPointF> ring{{14.5, 12.0}, {9, 9}}, ringOnly{{14.5, 14.5}, {14.5, 11.3}};
    const std::vector<QPointF> disc{{13.6, 13.6}, {15.4, 13.6}, {13.6, 15.4}, {15.4, 15.4}};
    const Row rows[] = {
        {"idle", MenuBarIconState::idle(), {{9, 9}, {14.5, 14.5}}, {{0.5, 0.5}}},
        {"zero", MenuBarIconState::progress(0), ring, ringOnly},
        {"below zero", MenuBarIconState::progress(-0.3), ring, ringOnly},
        {"unknown", MenuBarIconState::progress(std::numeric_limits<double>::quiet_NaN()), ring, ringOnly},
        {"one", MenuBarIconState::progress(1), disc, {{14.5, 11.3}}},
        {"above one", MenuBarIconState::progress(7), disc, {{14.5, 11.3}}},
        {"a quarter", MenuBarIconState::progress(0.25), {{15.4, 13.4}, {9, 9}}, {{13.4, 13.4}, {15.4, 15.6}, {13.4, 15.6}}},
        {"attention", MenuBarIconState::attention(), {{15, 3}, {9, 9}, {14.5, 14.5}}, {{15, 5.6}}},
        {"paused", MenuBarIconState::paused(), {{13.25, 14.5}, {16.25, 14.5}, {9, 9}, {15, 3}}, {{14.75, 14.5}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const QImage image = render(fullSquare(), row.state);
        for (const QPointF& at : row.inkedAt) EXPECT_TRUE(inked(image, at.x(), at.y())) << at.x() << ", " << at.y();
        for (const QPointF& at : row.emptyAt) EXPECT_TRUE(empty(image, at.x(), at.y())) << at.x() << ", " << at.y();
    }
    EXPECT_TRUE(empty(render(squares(true, Qt::OddEvenFill), MenuBarIconState::idle()), 9, 9));
    EXPECT_TRUE(inked(render(squares(true), MenuBarIconState::idle()), 9, 9));
}

}  // namespace
}  // namespace kelto
