#include "FenraCore/DogEar.h"
#include "FenraCore/FenraIcon.h"
#include "FenraCore/FenraPreferences.h"
#include "FenraCore/FoldedTile.h"
#include "tests/support/widgets/WidgetRender.h"

#include <QAccessible>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

namespace kelto {
namespace {

const QColor coral(255, 90, 78);
const QColor white(255, 255, 255);

QWidget* whitePanel() {
    auto* panel = new QWidget;
    panel->setAutoFillBackground(true);
    QPalette palette = panel->palette();
    palette.setColor(QPalette::Window, white);
    panel->setPalette(palette);
    return panel;
}

// A dog ear inside a transparent holder, as dog ears are used; rendering
// a top-level widget through its graphics effect leaves out its children.
struct Held {
    QWidget holder;
    DogEar* ear;

    explicit Held(QWidget* content, Qt::LayoutDirection direction = Qt::LeftToRight)
        : ear(new DogEar(content, 12, 12, &holder)) {
        holder.setLayoutDirection(direction);
        holder.resize(100, 40);
        ear->setGeometry(0, 0, 100, 40);
    }
};

void expectNear(const QColor& actual, const QColor& expected, int tolerance = 1) {
    EXPECT_NEAR(actual.red(), expected.red(), tolerance);
    EXPECT_NEAR(actual.green(), expected.green(), tolerance);
    EXPECT_NEAR(actual.blue(), expected.blue(), tolerance);
    EXPECT_EQ(actual.alpha(), 255);
}

// In a 100 × 40 dog ear with a 12-point fold: pixel 89 is 1.5 points into the
// flap's square, below the cut and left of the shade; pixel 96 lies in the shade.
TEST(DogEar, FlapAtTheTopRightCornerLeftToRight) {
    Held held(whitePanel());
    const QImage image = WidgetRender::image(held.holder);
    EXPECT_EQ(image.pixelColor(98, 1).alpha(), 0);  // cut away
    EXPECT_EQ(image.pixelColor(0, 0).alpha(), 0);   // rounded
    expectNear(image.pixelColor(89, 10), coral);
    expectNear(image.pixelColor(96, 11), DogEar::foldShade().color(ColorScheme::light));
    expectNear(image.pixelColor(10, 10), white);
    expectNear(image.pixelColor(50, 39), white);
}

TEST(DogEar, FlapAndClipMirrorRightToLeft) {
    Held held(whitePanel(), Qt::RightToLeft);
    ASSERT_EQ(held.ear->layoutDirection(), Qt::RightToLeft);
    const QImage image = WidgetRender::image(held.holder);
    EXPECT_EQ(image.pixelColor(1, 1).alpha(), 0);
    EXPECT_EQ(image.pixelColor(99, 0).alpha(), 0);
    expectNear(image.pixelColor(10, 10), coral);
    expectNear(image.pixelColor(3, 11), DogEar::foldShade().color(ColorScheme::light));
    expectNear(image.pixelColor(89, 10), white);
}

TEST(DogEar, FlapHasNoAccessibleNodeAndTakesNoClicks) {
    auto* button = new QToolButton;
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    DogEar ear(button);
    ear.resize(100, 40);
    ear.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&ear));

    QAccessibleInterface* node = QAccessible::queryAccessibleInterface(&ear);
    ASSERT_NE(node, nullptr);
    ASSERT_EQ(node->childCount(), 1);
    EXPECT_EQ(node->child(0)->object(), button);

    const QPoint onFlap(89, 10);
    EXPECT_EQ(ear.childAt(onFlap), button);
    QSignalSpy clicked(button, &QToolButton::clicked);
    QTest::mouseClick(ear.windowHandle(), Qt::LeftButton, {}, onFlap);
    EXPECT_EQ(clicked.count(), 1);
}

class FoldedTileTest : public testing::Test {
protected:
    void TearDown() override { FenraPreferences::shared().setIncreaseContrast(false); }

    static QImage render(const FoldedTile& tile, const QPalette& palette = WidgetRender::lightPalette()) {
        QImage image(56, 56, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        tile.paint(painter, QPointF(0, 0), palette);
        return image;
    }
};

TEST_F(FoldedTileTest, SymbolIsNavyOnKeltoAndWhiteElsewhere) {
    // The plus sign's strokes cross at the centre.
    const QImage kelto = render(FoldedTile(FenraIcon::add, TileTint::kelto, 56));
    expectNear(kelto.pixelColor(27, 27), QColor(11, 20, 51));
    expectNear(kelto.pixelColor(5, 28), QColor(255, 201, 60));
    const QImage cobalt = render(FoldedTile(FenraIcon::add, TileTint::cobalt, 56));
    expectNear(cobalt.pixelColor(27, 27), white);
    expectNear(cobalt.pixelColor(5, 28), QColor(43, 75, 255));
    // Fold and crease.
    expectNear(cobalt.pixelColor(53, 11), TileTints::shadow(TileTint::cobalt).color(), 2);
    EXPECT_EQ(cobalt.pixelColor(0, 0).alpha(), 0);
}

TEST_F(FoldedTileTest, IncreasedContrastAddsABorderInsideTheOutline) {
    QPalette palette = WidgetRender::lightPalette();
    palette.setColor(QPalette::Mid, QColor(255, 0, 0));
    const FoldedTile tile(FenraIcon::folder, TileTint::green, 56);
    const QColor base(30, 154, 98);

    expectNear(render(tile, palette).pixelColor(28, 0), base);
    expectNear(render(tile, palette).pixelColor(0, 28), base);
    FenraPreferences::shared().setIncreaseContrast(true);
    const QImage bordered = render(tile, palette);
    // Half a pixel of red over the edge pixels (antialiased, so about half
    // their colour), nothing further in.
    for (const QPoint edge : {QPoint(28, 0), QPoint(0, 28), QPoint(55, 28), QPoint(28, 55)}) {
        const QColor c = bordered.pixelColor(edge);
        EXPECT_GT(c.red(), base.red() + 60) << edge.x() << ", " << edge.y();
        EXPECT_LT(c.green(), base.green() - 40) << edge.x() << ", " << edge.y();
    }
    expectNear(bordered.pixelColor(28, 1), base);
    expectNear(bordered.pixelColor(1, 28), base);
}

}  // namespace
}  // namespace kelto
