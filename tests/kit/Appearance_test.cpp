#include "FenraCore/Appearance.h"
#include "FenraCore/FenraFont.h"
#include "FenraCore/FenraPreferences.h"
#include "FenraCore/FenraTheme.h"
#include "tests/support/widgets/WidgetRender.h"

#include <QApplication>
#include <QFontInfo>
#include <QSignalSpy>
#include <QWidget>

#include <gtest/gtest.h>

#include <array>
#include <thread>
#include <vector>

namespace kelto {
namespace {

QPalette paletteOf(QColor window, QColor text) {
    QPalette palette;
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    return palette;
}

TEST(Appearance, DarkOnlyWhenTheWindowIsDarkerThanItsText) {
    EXPECT_EQ(Appearance::scheme(WidgetRender::lightPalette()), ColorScheme::light);
    EXPECT_EQ(Appearance::scheme(WidgetRender::darkPalette()), ColorScheme::dark);
    // Equal lightness has no dark match: light.
    EXPECT_EQ(Appearance::scheme(paletteOf(QColor(128, 128, 128), QColor(128, 128, 128))), ColorScheme::light);
    // Lightness, not the sum of the channels: pure green is lighter than blue.
    EXPECT_EQ(Appearance::scheme(paletteOf(QColor(0, 0, 255), QColor(0, 160, 0))), ColorScheme::dark);

    QWidget widget;
    widget.setPalette(WidgetRender::darkPalette());
    EXPECT_EQ(Appearance::scheme(widget), ColorScheme::dark);
}

TEST(FenraColor, ResolvesForThePaletteBeingDrawn) {
    const FenraColor& warning = FenraTheme::warning();
    EXPECT_EQ(warning.color(WidgetRender::lightPalette()), QColor(168, 95, 0));
    EXPECT_EQ(warning.color(WidgetRender::darkPalette()), QColor(255, 201, 60));
    EXPECT_EQ(warning.color(paletteOf(QColor(90, 90, 90), QColor(90, 90, 90))), QColor(168, 95, 0));
    for (const QPalette& palette : {WidgetRender::lightPalette(), WidgetRender::darkPalette()}) {
        EXPECT_EQ(FenraTheme::coral().color(palette), QColor(255, 90, 78));
        EXPECT_EQ(FenraTheme::coral().color(palette).alpha(), 255);
    }
}

TEST(FenraTheme, SeparateStaticsCompareByValue) {
    EXPECT_EQ(FenraTheme::accent(), FenraTheme::tint());
    EXPECT_NE(&FenraTheme::accent(), &FenraTheme::tint());
    EXPECT_EQ(FenraColor(RGB::from255(1, 2, 3), RGB::from255(4, 5, 6)), FenraColor(RGB::from255(1, 2, 3), RGB::from255(4, 5, 6)));
    EXPECT_NE(FenraColor(RGB::from255(1, 2, 3), RGB::from255(4, 5, 6)), FenraColor(RGB::from255(1, 2, 3)));
    EXPECT_EQ(std::hash<FenraColor>{}(FenraTheme::accent()), std::hash<FenraColor>{}(FenraTheme::tint()));
}

TEST(FenraTheme, BuiltOnceWhateverThreadComesFirst) {
    std::array<const FenraColor*, 8> seen{};
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < seen.size(); ++i) {
        threads.emplace_back([&seen, i] { seen[i] = &FenraTheme::textTertiary(); });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (const FenraColor* colour : seen) {
        EXPECT_EQ(colour, &FenraTheme::textTertiary());
    }
    EXPECT_EQ(FenraTheme::textTertiary().dark, RGB::from255(117, 134, 171));
}

class FenraPreferencesTest : public testing::Test {
protected:
    void TearDown() override {
        FenraPreferences& preferences = FenraPreferences::shared();
        preferences.setReduceTransparency(false);
        preferences.setIncreaseContrast(false);
        preferences.setReduceMotion(false);
    }
};

TEST_F(FenraPreferencesTest, OffByDefaultAndSignalOnlyOnChange) {
    FenraPreferences& preferences = FenraPreferences::shared();
    EXPECT_FALSE(preferences.reduceTransparency());
    EXPECT_FALSE(preferences.increaseContrast());
    EXPECT_FALSE(preferences.reduceMotion());

    QSignalSpy changed(&preferences, &FenraPreferences::changed);
    preferences.setIncreaseContrast(true);
    preferences.setIncreaseContrast(true);
    EXPECT_EQ(changed.count(), 1);
    EXPECT_TRUE(preferences.increaseContrast());
    preferences.setReduceMotion(true);
    preferences.setReduceTransparency(true);
    EXPECT_EQ(changed.count(), 3);
    EXPECT_TRUE(preferences.property("reduceMotion").toBool());
    preferences.setReduceMotion(false);
    EXPECT_EQ(changed.count(), 4);
    EXPECT_FALSE(preferences.reduceMotion());
}

TEST(FenraFont, PointsArePixelsInTheApplicationFamily) {
    const QFont body = FenraFont::font(13);
    EXPECT_EQ(body.pixelSize(), 13);
    EXPECT_EQ(body.family(), QApplication::font().family());
    EXPECT_EQ(QFontInfo(body).pixelSize(), 13);
    EXPECT_EQ(FenraFont::font(16.8, QFont::DemiBold).pixelSize(), 17);
    EXPECT_EQ(FenraFont::font(16.8, QFont::DemiBold).weight(), QFont::DemiBold);

    const QFont headline = FenraFont::font(FontRole::headline);
    EXPECT_EQ(headline.pixelSize(), 13);
    EXPECT_EQ(headline.weight(), QFont::Bold);
    EXPECT_GT(FenraFont::font(FontRole::largeTitle).pixelSize(), FenraFont::font(FontRole::title).pixelSize());
    EXPECT_GT(FenraFont::font(FontRole::body).pixelSize(), FenraFont::font(FontRole::caption).pixelSize());
}

TEST(FenraFont, MonospacedDigitsKeepAFontWhoseDigitsAlreadyAlign) {
    // The tests' DejaVu Sans has tabular digits.
    ASSERT_EQ(QFontInfo(QApplication::font()).family(), QStringLiteral("DejaVu Sans"));
    EXPECT_TRUE(FenraFont::hasUniformDigits(QApplication::font()));
    const QFont digits = FenraFont::monospacedDigits(12);
    EXPECT_EQ(digits.family(), QApplication::font().family());
    EXPECT_EQ(digits.pixelSize(), 12);
    EXPECT_TRUE(FenraFont::hasUniformDigits(digits));
}

}  // namespace
}  // namespace kelto
