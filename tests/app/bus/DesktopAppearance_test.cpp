// Runs on a session bus of its own (dbus-run-session).
#include <QApplication>
#include <QSignalSpy>
#include <QTest>

#include "FenraCore/FenraStyle.h"
#include "Kelto_Sync/App/DesktopAppearance.h"
#include "tests/app/bus/FakeSettingsPortal.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace kelto;
using Preference = DesktopAppearance::Preference;

namespace {

struct Appearance : ::testing::Test {
    const QPalette platform = QApplication::palette();

    ~Appearance() override { QApplication::setPalette(platform); }

    static std::string address() {
        const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
        return address ? address : "";
    }
    bool shows(Preference preference) const {
        const QPalette expected = DesktopAppearance::palette(preference, platform);
        return QApplication::palette().color(QPalette::Window) == expected.color(QPalette::Window) &&
               QApplication::palette().color(QPalette::Text) == expected.color(QPalette::Text);
    }
};

}  // namespace

TEST_F(Appearance, withoutAPortalThePlatformPaletteStays) {
    ASSERT_FALSE(address().empty()) << "needs a session bus";
    QApplication::setStyle(QStringLiteral("Fusion"));  // the desktop's, say
    DesktopAppearance appearance;
    appearance.start();
    EXPECT_NE(dynamic_cast<FenraStyle*>(QApplication::style()), nullptr) << "one style on every desktop";
    EXPECT_EQ(appearance.preference(), Preference::none);
    EXPECT_EQ(QApplication::palette().color(QPalette::Window), platform.color(QPalette::Window));
}

TEST_F(Appearance, readsThePreferenceAtStartAndFollowsItsChanges) {
    ASSERT_FALSE(address().empty()) << "needs a session bus";
    ASSERT_NE(DesktopAppearance::palette(Preference::dark, platform).color(QPalette::Window),
              DesktopAppearance::palette(Preference::light, platform).color(QPalette::Window));
    test::FakeSettingsPortal portal(address(), 1);
    DesktopAppearance appearance;
    appearance.start();
    EXPECT_EQ(appearance.preference(), Preference::dark);
    EXPECT_TRUE(shows(Preference::dark));
    EXPECT_EQ(appearance.desktopScheme(), ColorScheme::dark);
    QSignalSpy schemes(&appearance, &DesktopAppearance::desktopSchemeChanged);

    portal.change("color-scheme", 2);
    ASSERT_TRUE(QTest::qWaitFor([&] { return appearance.preference() == Preference::light; }));
    EXPECT_TRUE(shows(Preference::light));
    EXPECT_EQ(appearance.desktopScheme(), ColorScheme::light);
    ASSERT_EQ(schemes.count(), 1);

    // Another key of the group changes nothing; no preference is the platform's.
    portal.change("contrast", 1);
    portal.change("color-scheme", 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return appearance.preference() == Preference::none; }));
    EXPECT_EQ(QApplication::palette().color(QPalette::Window), platform.color(QPalette::Window));
}
