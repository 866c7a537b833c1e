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

namespace kelto {
namespace {

QPalette paletteOf(QColor window, QColor text) {
    QPalette palette;
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    return palette;
}

// Dark only when the window is darker than its text (equal is light), by
// lightness rather than the sum of the channels; a colour resolves for the
// palette it is drawn with.
TEST(Appearance, DarkOnlyWhenTheWindowIsDarkerThanItsText) {
    const QPalette grey = paletteOf(QColor(128, 128, 128), QColor(128, 128, 128));
    EXPECT_EQ(Appearance::scheme(WidgetRender::lightPalette()), ColorScheme::light);
    EXPECT_EQ(Appearance::scheme(WidgetRender::darkPalette()), ColorScheme::dark);
    EXPECT_EQ(Appearance::scheme(grey), ColorScheme::light);
    EXPECT_EQ(Appearance::scheme(paletteOf(QColor(0, 0, 255), QColor(0, 160, 0))), ColorScheme::dark);
    QWidget widget;
    widget.setPalette(WidgetRender::darkPalette());
    EXPECT_EQ(Appearance::scheme(widget), ColorScheme::dark);

    const FenraColor& warning = FenraTheme::warning();
    EXPECT_EQ(warning.color(WidgetRender::lightPalette()), QColor(168, 95, 0));
    EXPECT_EQ(warning.color(WidgetRender::darkPalette()), QColor(255, 201, 60));
    EXPECT_EQ(warning.color(grey), QColor(168, 95, 0));
    EXPECT_EQ(FenraTheme::coral().color(WidgetRender::darkPalette()), QColor(255, 90, 78)) << "one value for both";
}

TEST(FenraPreferencesTest, OffByDefaultAndSignalOnlyOnChange) {
    FenraPreferences& preferences = FenraPreferences::shared();
    EXPECT_FALSE(preferences.reduceTransparency() || preferences.increaseContrast() || preferences.reduceMotion());
    QSignalSpy changed(&preferences, &FenraPreferences::changed);
    preferences.setIncreaseContrast(true);
    preferences.setIncreaseContrast(true);
    EXPECT_EQ(changed.count(), 1);
    preferences.setIncreaseContrast(false);
    EXPECT_EQ(changed.count(), 2);
    EXPECT_FALSE(preferences.increaseContrast());
}

TEST(FenraFont, PointsArePixelsInTheApplicationFamilyAndDigitsAlign) {
    const QFont body = FenraFont::font(13);
    EXPECT_EQ(body.family(), QApplication::font().family());
    EXPECT_EQ(QFontInfo(body).pixelSize(), 13);
    EXPECT_EQ(FenraFont::font(16.8, QFont::DemiBold).pixelSize(), 17);
    EXPECT_EQ(FenraFont::font(16.8, QFont::DemiBold).weight(), QFont::DemiBold);
    EXPECT_GT(FenraFont::font(FontRole::largeTitle).pixelSize(), FenraFont::font(FontRole::title).pixelSize());
    EXPECT_GT(FenraFont::font(FontRole::body).pixelSize(), FenraFont::font(FontRole::caption).pixelSize());

    // The tests' DejaVu Sans has tabular digits: it is kept.
    ASSERT_EQ(QFontInfo(QApplication::font()).family(), QStringLiteral("DejaVu Sans"));
    const QFont digits = FenraFont::monospacedDigits(12);
    EXPECT_EQ(digits.family(), QApplication::font().family());
    EXPECT_EQ(digits.pixelSize(), 12);
    EXPECT_TRUE(FenraFont::hasUniformDigits(digits));
}

}  // namespace
}  // namespace kelto
