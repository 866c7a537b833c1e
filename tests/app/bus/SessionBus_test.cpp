// What talks to the desktop over the session bus: each run has a bus of its own (dbus-run-session).
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "FenraCore/FenraStyle.h"
#include "Kelto_Sync/App/DesktopAppearance.h"
#include "Kelto_Sync/Settings/LicensesView.h"
#include "tests/permissions/FakePrograms.h"
#include "tests/permissions/ScopedEnvironment.h"
#include "tests/permissions/bus/FakeFileManager.h"
#include "tests/support/BusService.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace kelto::test {

// The desktop portal's Settings interface on a test bus, holding one "color-scheme" the test sets and announces.
class FakeSettingsPortal {
public:
    static constexpr const char* path = "/org/freedesktop/portal/desktop";
    static constexpr const char* interface = "org.freedesktop.portal.Settings";
    FakeSettingsPortal(const std::string& address, unsigned scheme) : scheme_(scheme), service_(address) {
        static const sd_bus_vtable vtable[] = {
            SD_BUS_VTABLE_START(0),
            SD_BUS_METHOD("Read", "ss", "v", &FakeSettingsPortal::read, SD_BUS_VTABLE_UNPRIVILEGED),
            SD_BUS_VTABLE_END,
        };
        if (sd_bus_add_object_vtable(service_.bus(), nullptr, path, interface, vtable, this) < 0)
            throw std::runtime_error("cannot add the settings object");
        service_.start("org.freedesktop.portal.Desktop");
    }
    // Stores the value and sends SettingChanged for `key`.
    void change(const std::string& key, unsigned scheme) {
        if (key == "color-scheme") scheme_ = scheme;
        service_.perform([&](sd_bus* bus) {
            if (sd_bus_emit_signal(bus, path, interface, "SettingChanged", "ssv", "org.freedesktop.appearance",
                                   key.c_str(), "u", scheme) < 0 ||
                sd_bus_flush(bus) < 0)
                throw std::runtime_error("cannot send SettingChanged");
        });
    }
private:
    // Like the portal, wraps the value in a second variant.
    static int read(sd_bus_message* message, void* userdata, sd_bus_error* error) {
        auto* self = static_cast<FakeSettingsPortal*>(userdata);
        const char *group = nullptr, *key = nullptr;
        if (int r = sd_bus_message_read(message, "ss", &group, &key); r < 0) return r;
        if (std::string(group) != "org.freedesktop.appearance" || std::string(key) != "color-scheme")
            return sd_bus_error_set(error, "org.freedesktop.portal.Error.NotFound", "no such setting");
        sd_bus_message* reply = nullptr;
        int r = sd_bus_message_new_method_return(message, &reply);
        if (r >= 0) r = sd_bus_message_append(reply, "v", "v", "u", self->scheme_.load());
        if (r >= 0) r = sd_bus_send(nullptr, reply, nullptr);
        sd_bus_message_unref(reply);
        return r;
    }
    std::atomic<unsigned> scheme_;
    BusService service_;  // last: stops answering before the value goes
};

}  // namespace kelto::test

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

class LicensesRevealTest : public testing::Test {
protected:
    LicensesRevealTest() {
        environment.set("PATH", programs.folder().toUtf8());
        QDir().mkpath(folder);
        for (const char* name : {"COPYING", "rsync-3.2.7.tar.gz"}) {
            QFile file(folder + u'/' + QString::fromLatin1(name));
            EXPECT_TRUE(file.open(QIODevice::WriteOnly));
            file.write("x");
        }
        view.show();
    }
    QTemporaryDir root;
    const QString folder = root.path() + QStringLiteral("/Licenses");
    test::FakePrograms programs;
    test::ScopedEnvironment environment;
    LicensesView view{SyncStrings(), folder};
};

}  // namespace

// One style on every desktop; without a portal the platform palette stays, with one the preference is read at start
// and followed; another key of the group changes nothing, and no preference is the platform's.
TEST_F(Appearance, readsThePreferenceAtStartAndFollowsItsChanges) {
    ASSERT_FALSE(address().empty()) << "needs a session bus";
    QApplication::setStyle(QStringLiteral("Fusion"));  // the desktop's, say
    {
        DesktopAppearance appearance;
        appearance.start();
        EXPECT_NE(dynamic_cast<FenraStyle*>(QApplication::style()), nullptr);
        EXPECT_EQ(appearance.preference(), Preference::none);
        EXPECT_EQ(QApplication::palette().color(QPalette::Window), platform.color(QPalette::Window));
    }
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
    portal.change("contrast", 1);
    portal.change("color-scheme", 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return appearance.preference() == Preference::none; }));
    EXPECT_EQ(QApplication::palette().color(QPalette::Window), platform.color(QPalette::Window));
}

// With nothing to open the folder with, the view says so under the button, and an alert names the archive in text
// that can be copied; without a file manager the folder opens; a file manager shows the archive itself.
TEST_F(LicensesRevealTest, NoFileManagerSaysSo) {
    ASSERT_TRUE(QDBusConnection::sessionBus().isConnected()) << "run under dbus-run-session";
    programs.add(QStringLiteral("xdg-open"), {}, 3);
    QSignalSpy revealed(&view, &LicensesView::revealed);
    view.revealButton()->click();
    ASSERT_TRUE(revealed.wait());
    EXPECT_FALSE(revealed.at(0).at(0).toBool());
    EXPECT_TRUE(view.revealFailedLabel()->isVisible());
    EXPECT_EQ(view.revealFailedLabel()->text(), QStringLiteral("No file manager could show the bundled source."));
    auto* alert = view.findChild<QMessageBox*>(QStringLiteral("revealFailedAlert"));
    ASSERT_NE(alert, nullptr);
    EXPECT_TRUE(alert->isVisible());
    EXPECT_EQ(alert->text(), view.revealFailedLabel()->text());
    EXPECT_EQ(alert->informativeText(), folder + QStringLiteral("/rsync-3.2.7.tar.gz"));
    bool selectable = false;
    for (const QLabel* label : alert->findChildren<QLabel*>())
        if (label->text() == alert->informativeText()) selectable = label->textInteractionFlags() & Qt::TextSelectableByMouse;
    EXPECT_TRUE(selectable);
    ASSERT_TRUE(programs.next());
    programs.add(QStringLiteral("xdg-open"));
    view.revealButton()->click();
    ASSERT_TRUE(revealed.wait());
    EXPECT_TRUE(revealed.at(1).at(0).toBool());
    EXPECT_EQ(programs.next().value_or(test::FakePrograms::Start{}).arguments, QStringList{folder});
    FakeFileManager manager;
    ASSERT_TRUE(manager.registered);
    QSignalSpy shown(&manager, &FakeFileManager::itemsShown);
    view.revealButton()->click();
    ASSERT_TRUE(shown.wait());
    EXPECT_EQ(shown.at(0).at(0).toStringList(), QStringList{"file://" + folder + "/rsync-3.2.7.tar.gz"});
}
