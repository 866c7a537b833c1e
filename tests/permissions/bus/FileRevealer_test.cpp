// Runs on a session bus of its own (dbus-run-session).
#include "Platform/Desktop/FileRevealer.h"
#include "tests/permissions/FakePrograms.h"
#include "tests/permissions/ScopedEnvironment.h"
#include "tests/permissions/bus/FakeFileManager.h"

#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QDir>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

namespace kelto {
namespace {

// Remembers "Method /the/path" for each call and answers every Request with `response` (0 opened, 2 failed), or never.
class FakePortal : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.OpenURI")

public:
    explicit FakePortal(std::optional<uint> response)
        : response_(response), bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, "fake-portal")) {
        bus_.registerObject(path, this, QDBusConnection::ExportAllSlots);
        registered = bus_.registerService(QStringLiteral("org.freedesktop.portal.Desktop"));
    }
    ~FakePortal() override {
        bus_.unregisterService(QStringLiteral("org.freedesktop.portal.Desktop"));
        bus_.unregisterObject(path);
        QDBusConnection::disconnectFromBus(QStringLiteral("fake-portal"));
    }
    bool registered = false;
    QStringList calls;

public slots:
    QDBusObjectPath OpenDirectory(const QString&, const QDBusUnixFileDescriptor& fd, const QVariantMap& options) {
        return answer(QStringLiteral("OpenDirectory"), fd, options);
    }
    QDBusObjectPath OpenFile(const QString&, const QDBusUnixFileDescriptor& fd, const QVariantMap& options) {
        return answer(QStringLiteral("OpenFile"), fd, options);
    }

private:
    QDBusObjectPath answer(const QString& method, const QDBusUnixFileDescriptor& fd, const QVariantMap& options) {
        calls << method + u' ' + QFile::symLinkTarget("/proc/self/fd/" + QString::number(fd.fileDescriptor()));
        QString sender = message().service();
        sender.remove(0, 1).replace(u'.', u'_');
        const QString handle =
            path + "/request/" + sender + u'/' + options.value(QStringLiteral("handle_token")).toString();
        if (response_) {  // after the reply, as the portal answers once the user chose
            QTimer::singleShot(0, this, [this, handle] {
                bus_.send(QDBusMessage::createSignal(handle, "org.freedesktop.portal.Request", "Response")
                          << *response_ << QVariantMap{});
            });
        }
        return QDBusObjectPath(handle);
    }
    const QString path = QStringLiteral("/org/freedesktop/portal/desktop");
    std::optional<uint> response_;
    QDBusConnection bus_;
};

class FileRevealerTest : public testing::Test {
protected:
    FileRevealerTest() {
        environment.set("PATH", programs.folder().toUtf8());
        QDir().mkpath(folder);
    }

    test::Awaited<bool> reveal(const QDBusConnection& bus, int patienceMs = FileRevealer::defaultPatienceMs) {
        return test::await<bool>(
            [&](FileRevealer::Done done) { FileRevealer::reveal(file, bus, std::move(done), patienceMs); });
    }
    test::Awaited<bool> open() {
        return test::await<bool>([&](FileRevealer::Done done) { FileRevealer::open(folder, std::move(done)); });
    }
    bool open(const QDBusConnection& bus) {
        return test::await<bool>([&](FileRevealer::Done done) { FileRevealer::open(folder, bus, std::move(done)); })
            .value.value_or(false);
    }

    QTemporaryDir root;
    const QString folder = root.path() + QStringLiteral("/my files; x");
    const QString file = folder + QStringLiteral("/report #1.txt");
    test::FakePrograms programs;
    test::ScopedEnvironment environment;
};

TEST_F(FileRevealerTest, AnOpenerThatFindsNothingToOpenWithShowsNothing) {
    const QDBusConnection none =
        QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/kelto-bus"), QStringLiteral("none"));
    EXPECT_EQ(reveal(none).value, false);
    programs.add(QStringLiteral("xdg-open"), {}, 3);
    EXPECT_EQ(reveal(none).value, false);
    EXPECT_EQ(open().value, false);
    QDBusConnection::disconnectFromBus(QStringLiteral("none"));
    programs.add(QStringLiteral("xdg-open"));
    while (programs.next(0)) {
    }
    const auto opened = open();
    EXPECT_FALSE(opened.answeredInside);
    EXPECT_EQ(opened.value, true);
    EXPECT_EQ(programs.started().arguments, QStringList{folder});
}

TEST_F(FileRevealerTest, APortalThatNeverAnswersHasShownNothing) {
    QFile(file).open(QIODevice::WriteOnly);
    FakePortal silent(std::nullopt);
    ASSERT_TRUE(silent.registered);
    EXPECT_EQ(reveal(QDBusConnection::sessionBus(), 200).value, false);
    programs.add(QStringLiteral("xdg-open"));
    EXPECT_EQ(reveal(QDBusConnection::sessionBus(), 200).value, true);
    EXPECT_EQ(programs.started().arguments, QStringList{folder});
}

TEST_F(FileRevealerTest, TheDesktopsWaysAreTriedInTurn) {
    ASSERT_TRUE(QDBusConnection::sessionBus().isConnected()) << "run under dbus-run-session";
    {
        FakeFileManager manager;
        ASSERT_TRUE(manager.registered);
        const auto shown = reveal(QDBusConnection::sessionBus());
        EXPECT_FALSE(shown.answeredInside);
        EXPECT_EQ(shown.value, true);
        EXPECT_EQ(manager.shown, QStringList{"file://" + root.path() + "/my%20files;%20x/report%20%231.txt"});
    }
    QFile(file).open(QIODevice::WriteOnly);
    {
        FakePortal refusing(2);
        ASSERT_TRUE(refusing.registered);
        programs.add(QStringLiteral("gio"), {}, 4);
        programs.add(QStringLiteral("xdg-open"));
        EXPECT_EQ(reveal(QDBusConnection::sessionBus()).value, true);
        EXPECT_EQ(refusing.calls, QStringList{"OpenDirectory " + file});
        EXPECT_EQ(programs.started().command(), (QStringList{"gio", "open", folder}));
        EXPECT_EQ(programs.started().program, "xdg-open");
    }
    {
        FakePortal portal(0);
        ASSERT_TRUE(portal.registered);
        EXPECT_TRUE(open(QDBusConnection::sessionBus()));
        EXPECT_EQ(portal.calls, QStringList{"OpenFile " + folder});
        {
            FakeFileManager manager;
            ASSERT_TRUE(manager.registered);
            EXPECT_TRUE(open(QDBusConnection::sessionBus()));
            EXPECT_EQ(manager.foldersShown, QStringList{"file://" + root.path() + "/my%20files;%20x"});
        }
        EXPECT_EQ(portal.calls.size(), 1) << "the file manager took the second";
    }
    EXPECT_FALSE(programs.next(0)) << "no program once a service took it";
}

}  // namespace
}  // namespace kelto

#include "FileRevealer_test.moc"
