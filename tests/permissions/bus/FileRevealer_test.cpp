// Runs on a session bus of its own (dbus-run-session).
#include "Platform/Desktop/FileRevealer.h"
#include "tests/permissions/Await.h"
#include "tests/permissions/FakePrograms.h"
#include "tests/permissions/ScopedEnvironment.h"
#include "tests/permissions/bus/FakeFileManager.h"

#include <QDBusConnection>
#include <QDir>
#include <QObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace kelto {
namespace {

class FileRevealerTest : public testing::Test {
protected:
    FileRevealerTest() {
        environment.set("PATH", programs.folder().toUtf8());
        QDir().mkpath(folder);
    }

    test::Awaited<bool> reveal(const QDBusConnection& bus) {
        return test::await<bool>([&](FileRevealer::Done done) { FileRevealer::reveal(file, bus, std::move(done)); });
    }

    QTemporaryDir root;
    const QString folder = root.path() + QStringLiteral("/my files; x");
    const QString file = folder + QStringLiteral("/report #1.txt");
    test::FakePrograms programs;
    test::ScopedEnvironment environment;
};

TEST_F(FileRevealerTest, TheFileManagerOnTheBusShowsTheFile) {
    ASSERT_TRUE(QDBusConnection::sessionBus().isConnected()) << "run under dbus-run-session";
    FakeFileManager manager;
    ASSERT_TRUE(manager.registered);
    const auto shown = reveal(QDBusConnection::sessionBus());
    EXPECT_FALSE(shown.answeredInside);
    EXPECT_EQ(shown.value, true);
    EXPECT_EQ(manager.shown, QStringList{"file://" + root.path() + "/my%20files;%20x/report%20%231.txt"});
}

TEST_F(FileRevealerTest, WithoutOneTheFolderIsOpenedAndNothingToOpenItIsFalse) {
    programs.add(QStringLiteral("xdg-open"));
    EXPECT_EQ(reveal(QDBusConnection::sessionBus()).value, true);
    const auto opened = programs.next();
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->arguments, QStringList{folder});

    QFile::remove(programs.folder() + QStringLiteral("/xdg-open"));
    const QDBusConnection none =
        QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/kelto-bus"), QStringLiteral("none"));
    EXPECT_EQ(reveal(none).value, false);
    QDBusConnection::disconnectFromBus(QStringLiteral("none"));
}

// xdg-open with nothing to open a folder with ends with a failure: nothing
// was shown. A folder is opened itself.
TEST_F(FileRevealerTest, AnOpenerThatFindsNothingToOpenWithShowsNothing) {
    const QDBusConnection none =
        QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/kelto-bus"), QStringLiteral("none"));
    programs.add(QStringLiteral("xdg-open"), {}, 3);
    EXPECT_EQ(reveal(none).value, false);
    EXPECT_EQ(test::await<bool>([&](FileRevealer::Done done) { FileRevealer::open(folder, std::move(done)); }).value,
              false);
    QDBusConnection::disconnectFromBus(QStringLiteral("none"));

    programs.add(QStringLiteral("xdg-open"));
    while (programs.next(0)) {
    }
    const auto opened = test::await<bool>([&](FileRevealer::Done done) { FileRevealer::open(folder, std::move(done)); });
    EXPECT_FALSE(opened.answeredInside);
    EXPECT_EQ(opened.value, true);
    const auto start = programs.next();
    ASSERT_TRUE(start);
    EXPECT_EQ(start->arguments, QStringList{folder});
}

}  // namespace
}  // namespace kelto

