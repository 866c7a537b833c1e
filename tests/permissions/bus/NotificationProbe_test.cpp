// Runs on a session bus of its own (dbus-run-session).
#include "KeltoPermissions/NotificationProbe.h"
#include "KeltoPermissions/PermissionItems.h"
#include "tests/permissions/Await.h"
#include "tests/permissions/FakePrograms.h"
#include "tests/permissions/ScopedEnvironment.h"

#include <QDBusConnection>
#include <QObject>

#include <gtest/gtest.h>

namespace kelto {
namespace {

// A notification server on a connection of its own.
class FakeNotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    FakeNotificationServer() : bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName)) {
        bus_.registerObject(QStringLiteral("/org/freedesktop/Notifications"), this, QDBusConnection::ExportAllSlots);
        registered = bus_.registerService(QStringLiteral("org.freedesktop.Notifications"));
    }
    ~FakeNotificationServer() override {
        bus_.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
        bus_.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
        QDBusConnection::disconnectFromBus(connectionName);
    }

    bool registered = false;

public slots:
    QString GetServerInformation(QString& vendor, QString& version, QString& specVersion) {
        vendor = QStringLiteral("Test"), version = QStringLiteral("1"), specVersion = QStringLiteral("1.2");
        return QStringLiteral("fake-notifications");
    }

private:
    static constexpr const char* connectionName = "fake-notification-server";
    QDBusConnection bus_;
};

PermissionStatus probe(const QDBusConnection& bus, DesktopKind desktop) {
    const auto answer = test::await<PermissionStatus>([&](NotificationProbe::Answer done) {
        NotificationProbe::status(bus, QStringLiteral("Kelto.Sync.desktop"), desktop, std::move(done));
    });
    EXPECT_FALSE(answer.answeredInside);
    return answer.value.value_or(PermissionStatus::checking);
}

// No server or no bus cannot be told; an answering server grants unless GNOME's switch is off.
TEST(NotificationProbeTest, AnAnsweringServerGrantsUnlessGnomesSwitchIsOff) {
    ASSERT_TRUE(QDBusConnection::sessionBus().isConnected()) << "run under dbus-run-session";
    EXPECT_EQ(probe(QDBusConnection::sessionBus(), DesktopKind::kde), PermissionStatus::unverifiable);
    const QDBusConnection none =
        QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/kelto-bus"), QStringLiteral("none"));
    EXPECT_EQ(probe(none, DesktopKind::gnome), PermissionStatus::unverifiable);
    QDBusConnection::disconnectFromBus(QStringLiteral("none"));
    FakeNotificationServer server;
    ASSERT_TRUE(server.registered);
    EXPECT_EQ(probe(QDBusConnection::sessionBus(), DesktopKind::kde), PermissionStatus::granted);
    test::FakePrograms programs;
    test::ScopedEnvironment environment;
    environment.set("PATH", programs.folder().toUtf8());
    // GNOME without gsettings: nothing says the switch is off.
    EXPECT_EQ(probe(QDBusConnection::sessionBus(), DesktopKind::gnome), PermissionStatus::granted);
    programs.add(QStringLiteral("gsettings"), "false\n");
    EXPECT_EQ(probe(QDBusConnection::sessionBus(), DesktopKind::gnome), PermissionStatus::denied);
    EXPECT_EQ(programs.next().value_or(test::FakePrograms::Start{}).arguments,
              (QStringList{"get",
                           "org.gnome.desktop.notifications.application:"
                           "/org/gnome/desktop/notifications/application/kelto-sync/",
                           "enable"}));
    // The factory's item asks the same server through the session bus.
    const PermissionItem item = PermissionItems::notifications(
        QStringLiteral("kelto-sync"), QStringLiteral("detail"), PermissionRequirement::optional, PermissionStrings());
    environment.set("XDG_CURRENT_DESKTOP", "KDE");
    EXPECT_EQ(test::await<PermissionStatus>(item.check).value, PermissionStatus::granted);
    const auto requested = test::awaitDone(item.request);
    EXPECT_TRUE(requested.value);
    EXPECT_FALSE(requested.answeredInside);
}

}  // namespace
}  // namespace kelto

#include "NotificationProbe_test.moc"
