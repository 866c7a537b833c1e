// Runs on a session bus of its own (dbus-run-session).
#include "Platform/Desktop/FileRevealer.h"
#include "tests/permissions/Await.h"
#include "tests/permissions/FakePrograms.h"
#include "tests/permissions/ScopedEnvironment.h"
#include "tests/permissions/bus/FakeFileManager.h"
#include "tests/permissions/bus/FakePortal.h"

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

// Without a bus: xdg-open with nothing to open a folder with, or no opener at all, ends with a failure:
// nothing was shown. A folder is opened itself.
TEST_F(FileRevealerTest, AnOpenerThatFindsNothingToOpenWithShowsNothing) {
    const QDBusConnection none =
        QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/kelto-bus"), QStringLiteral("none"));
    EXPECT_EQ(reveal(none).value, false);
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

// A portal that takes the call but never sends its Response has shown
// nothing: once the patience runs out, the openers after it are tried, and
// with none the reveal says nothing was shown.
TEST_F(FileRevealerTest, APortalThatNeverAnswersHasShownNothing) {
    QFile(file).open(QIODevice::WriteOnly);
    FakePortal silent(std::nullopt);
    ASSERT_TRUE(silent.registered);
    const auto reveal = [&] {
        return test::await<bool>([&](FileRevealer::Done done) {
                   FileRevealer::reveal(file, QDBusConnection::sessionBus(), std::move(done), 200);
               }).value;
    };
    EXPECT_EQ(reveal(), false);
    programs.add(QStringLiteral("xdg-open"));
    EXPECT_EQ(reveal(), true);
    const auto opened = programs.next();
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->arguments, QStringList{folder});
}

// The file manager, the portal, gio, xdg-open: each is asked only when the
// ways before it did not take the request.
TEST_F(FileRevealerTest, TheDesktopsWaysAreTriedInTurn) {
    QFile(file).open(QIODevice::WriteOnly);
    {
        FakePortal refusing(2);
        ASSERT_TRUE(refusing.registered);
        programs.add(QStringLiteral("gio"), {}, 4);
        programs.add(QStringLiteral("xdg-open"));
        EXPECT_EQ(reveal(QDBusConnection::sessionBus()).value, true);
        EXPECT_EQ(refusing.calls, QStringList{"OpenDirectory " + file});
        const auto gio = programs.next();
        ASSERT_TRUE(gio);
        EXPECT_EQ(gio->program, "gio");
        EXPECT_EQ(gio->arguments, (QStringList{"open", folder}));
        const auto xdg = programs.next();
        ASSERT_TRUE(xdg);
        EXPECT_EQ(xdg->program, "xdg-open");
    }
    const auto open = [&] {
        return test::await<bool>([&](FileRevealer::Done done) {
                   FileRevealer::open(folder, QDBusConnection::sessionBus(), std::move(done));
               }).value;
    };
    {
        FakePortal portal(0);
        ASSERT_TRUE(portal.registered);
        EXPECT_EQ(open(), true);
        EXPECT_EQ(portal.calls, QStringList{"OpenFile " + folder});
        {
            FakeFileManager manager;
            ASSERT_TRUE(manager.registered);
            EXPECT_EQ(open(), true);
            EXPECT_EQ(manager.foldersShown, QStringList{"file://" + root.path() + "/my%20files;%20x"});
        }
        EXPECT_EQ(portal.calls.size(), 1) << "the file manager took the second";
    }
    EXPECT_FALSE(programs.next(0)) << "no program once a service took it";
}

}  // namespace
}  // namespace kelto

