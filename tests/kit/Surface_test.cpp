#include "FenraCore/Appearance.h"
#include "FenraCore/FenraPreferences.h"
#include "FenraCore/FenraSurfaceFrame.h"
#include "FenraCore/FenraSurfaceGroup.h"
#include "FenraCore/SurfaceMaterial.h"
#include "tests/support/widgets/WidgetRender.h"

#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

namespace kelto {
namespace {

const QColor red(255, 0, 0);

class SurfaceTest : public testing::Test {
protected:
    void TearDown() override {
        FenraPreferences::shared().setReduceTransparency(false);
        FenraPreferences::shared().setIncreaseContrast(false);
    }

    // A surface over a transparent content widget; red separators make the
    // border easy to find.
    static std::unique_ptr<FenraSurfaceFrame> surface(FenraSurface role, QPalette palette) {
        palette.setColor(QPalette::Mid, red);
        auto frame = std::make_unique<FenraSurfaceFrame>(role, InsettableShape::roundedRectangle(10), false, new QWidget);
        frame->setPalette(palette);
        frame->resize(100, 60);
        return frame;
    }
};

TEST_F(SurfaceTest, MaterialOfTheRoleWithoutBorder) {
    for (const QPalette& palette : {WidgetRender::lightPalette(), WidgetRender::darkPalette()}) {
        for (FenraSurface role : {FenraSurface::panel, FenraSurface::hud, FenraSurface::popover, FenraSurface::toolbarCapsule}) {
            auto frame = surface(role, palette);
            EXPECT_EQ(frame->rendering(), SurfaceRendering::material);
            EXPECT_FALSE(frame->hasBorder());
            const QColor expected =
                SurfaceMaterials::color(SurfaceMaterials::of(role, Appearance::scheme(palette)), palette);
            const QImage image = WidgetRender::image(*frame);
            EXPECT_EQ(image.pixel(50, 30), expected.rgba());
            EXPECT_EQ(image.pixel(50, 0), expected.rgba());
            EXPECT_EQ(image.pixelColor(0, 0).alpha(), 0);
        }
    }
}

TEST_F(SurfaceTest, ReducedTransparencyIsSolidWithAOneDevicePixelBorder) {
    auto frame = surface(FenraSurface::popover, WidgetRender::lightPalette());
    FenraPreferences::shared().setReduceTransparency(true);
    EXPECT_EQ(frame->rendering(), SurfaceRendering::solid);
    EXPECT_TRUE(frame->hasBorder());
    const QColor window = WidgetRender::lightPalette().color(QPalette::Window);

    const QImage single = WidgetRender::image(*frame, 1);
    EXPECT_EQ(single.pixelColor(50, 0), red);
    EXPECT_EQ(single.pixelColor(50, 1), window);
    EXPECT_EQ(single.pixelColor(0, 30), red);

    // At ratio 2 the border is half a point: still one device pixel.
    const QImage sharp = WidgetRender::image(*frame, 2);
    ASSERT_EQ(sharp.size(), QSize(200, 120));
    EXPECT_EQ(sharp.pixelColor(100, 0), red);
    EXPECT_EQ(sharp.pixelColor(100, 1), window);
    EXPECT_EQ(sharp.pixelColor(199, 60), red);
    EXPECT_EQ(sharp.pixelColor(198, 60), window);
}

TEST_F(SurfaceTest, IncreasedContrastBordersMaterialToo) {
    auto frame = surface(FenraSurface::hud, WidgetRender::darkPalette());
    FenraPreferences::shared().setIncreaseContrast(true);
    EXPECT_EQ(frame->rendering(), SurfaceRendering::material);
    EXPECT_TRUE(frame->hasBorder());
    EXPECT_EQ(WidgetRender::image(*frame).pixelColor(50, 0), red);
    FenraPreferences::shared().setIncreaseContrast(false);
    EXPECT_NE(WidgetRender::image(*frame).pixelColor(50, 0), red);
}

TEST_F(SurfaceTest, ButtonUnderTheBorderStaysClickable) {
    FenraPreferences::shared().setReduceTransparency(true);
    auto* button = new QToolButton;
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    FenraSurfaceFrame frame(FenraSurface::panel, InsettableShape::rectangle(), false, button);
    frame.resize(100, 60);
    frame.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame));
    ASSERT_TRUE(frame.hasBorder());

    const QPoint onBorder(50, 0);
    EXPECT_EQ(frame.childAt(onBorder), button);
    QSignalSpy clicked(button, &QToolButton::clicked);
    QTest::mouseClick(frame.windowHandle(), Qt::LeftButton, {}, onBorder);
    EXPECT_EQ(clicked.count(), 1);
}

TEST(FenraSurfaceGroup, PassesItsContentThrough) {
    auto* content = new QWidget;
    FenraSurfaceGroup group(8, content);
    group.resize(50, 30);
    EXPECT_EQ(group.spacing(), 8);
    EXPECT_EQ(content->parentWidget(), &group);
    const QImage image = WidgetRender::image(group);
    EXPECT_EQ(content->geometry(), group.rect());
    EXPECT_EQ(image.pixelColor(25, 15).alpha(), 0);
}

}  // namespace
}  // namespace kelto
