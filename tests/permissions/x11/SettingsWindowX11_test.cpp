#include "tests/permissions/ScopedEnvironment.h"
#include "tests/permissions/checklist/FakePermission.h"

#include "KeltoPermissions/PermissionSetupController.h"
#include "KeltoPermissions/SettingsOpener.h"
#include "Platform/Desktop/DesktopWindows.h"

#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>

namespace kelto {
namespace {

using namespace test;
using S = PermissionStatus;

std::optional<SettingsWindowGeometry::Geometry> settingsWindow() {
    return SettingsWindowGeometry::current(SettingsOpener::settingsPrograms());
}

// The manager names itself before it manages windows: one of ours listed shows that it does.
bool managerReady() {
    static bool ready = false;
    if (ready) return true;
    if (!QTest::qWaitFor([] { return DesktopWindows::probe(); }, 10'000)) return false;
    QLabel ours(QStringLiteral("waiting for the window manager"));
    ours.show();
    ready = QTest::qWaitFor(
        [] {
            for (const DesktopWindows::Window& w : DesktopWindows::shared().windows()) {
                if (w.pid == QCoreApplication::applicationPid()) return true;
            }
            return false;
        },
        10'000);
    return ready;
}

class SettingsWindowX11 : public testing::Test {
protected:
    void SetUp() override {
        if (QGuiApplication::platformName() != QLatin1String("xcb")) GTEST_SKIP() << "not on X11";
        if (!managerReady()) GTEST_SKIP() << "no EWMH window manager";
    }
    std::unique_ptr<PermissionSetupController> shownController(PermissionChecklist& checklist, ChecklistRig& rig) {
        auto controller = std::make_unique<PermissionSetupController>(
            checklist, [](PermissionSetupController&) { return new QLabel(QStringLiteral("The checklist")); },
            QStringLiteral("Set up Kelto Sync"), [](PermissionSetupOutcome) {},
            [](QWidget& w) {
                w.show();
                w.raise();
                w.activateWindow();
            },
            [](QWidget& w) { w.hide(); });
        controller->show();
        rig.answerAll(S::missing);
        return controller;
    }
};

TEST_F(SettingsWindowX11, HandOffFollowsTheSettingsUntilTheyGo) {
    CompanionLog log;
    ItemRig rig(QStringLiteral("files"), SettingsDestination::privacy(PrivacyAnchor::allFiles));
    PermissionChecklist& checklist = *rig.checklist;
    auto controller = shownController(checklist, rig);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(controller->window()));
    EXPECT_FALSE(settingsWindow()) << "nothing mapped yet";
    QProcess helper;  // plays the settings program
    helper.start(QStringLiteral(KELTO_SETTINGS_WINDOW_HELPER), {});
    ASSERT_TRUE(QTest::qWaitFor([] { return settingsWindow().has_value(); }, 10'000));
    const auto geometry = settingsWindow();
    EXPECT_GE(geometry->frame.width(), 560);
    EXPECT_GT(geometry->frame.height(), 420) << "the title bar counts";
    EXPECT_EQ(geometry->visibleFrame, QRectF(QGuiApplication::primaryScreen()->availableGeometry()));
    // The window manager activates a new window some time after it is mapped.
    const auto settingsInFront = [] {
        return DesktopWindows::shared().frontmostProgram() == QStringLiteral("gnome-control-center");
    };
    ASSERT_TRUE(QTest::qWaitFor(settingsInFront, 10'000))
        << DesktopWindows::shared().frontmostProgram().value_or("none").toStdString();
    checklist.openSettings(rig.item);
    ASSERT_NE(controller->companion(), nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return controller->isCompanionVisible(); }, 10'000));
    EXPECT_FALSE(controller->window()->isVisible());
    QWidget* panel = controller->companion()->window();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(panel));
    EXPECT_EQ(panel->geometry().left(), qRound(geometry->frame.right() + 12));
    EXPECT_EQ(panel->geometry().top(), qRound(geometry->frame.top()));
    checklist.refreshAll();
    rig.answerAll(S::granted);
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.count("Close reason=permission-granted") == 1; }, 5'000));
    EXPECT_TRUE(controller->restoresOnActivation()) << "the hand-off stays pending";
    checklist.refreshAll();
    rig.answerAll(S::missing);
    checklist.openSettings(rig.item);
    ASSERT_TRUE(QTest::qWaitFor([&] { return controller->isCompanionVisible(); }, 10'000));
    helper.kill();
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.count("Close reason=settings-terminated") == 1; }, 5'000));
    QLabel other(QStringLiteral("another window of the application"));
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return controller->window()->isVisible(); }, 10'000));
    EXPECT_FALSE(controller->restoresOnActivation());
    EXPECT_TRUE(checklist.isMonitoring());
}

// A session tool whose window carries a class of its own, known only by its process.
TEST_F(SettingsWindowX11, TheCompanionFollowsWhateverTheOpenerStarted) {
    QTemporaryDir bin;
    const QString tool = bin.filePath(QStringLiteral("gnome-session-properties"));
    {
        QFile script(tool);
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\nexec '" KELTO_SETTINGS_WINDOW_HELPER "' session-tool\n");
    }
    QFile::setPermissions(tool, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    test::ScopedEnvironment environment;
    environment.set("PATH", bin.path().toUtf8() + ':' + qgetenv("PATH"));
    environment.set("XDG_CURRENT_DESKTOP", "GNOME");
    CompanionLog log;
    ChecklistRig rig;
    PermissionItem item = rig.fake("login", PermissionRequirement::recommended);
    item.destination = SettingsDestination::loginItems();
    PermissionChecklist checklist(
        QStringLiteral("Kelto Sync"), PermissionStrings(), {item}, rig.defaults,
        [opener = SettingsOpener::system()](const SettingsDestination& destination) { return opener.open(destination); },
        rig.relauncher);
    auto controller = shownController(checklist, rig);
    checklist.openSettings(item);
    ASSERT_NE(controller->companion(), nullptr);
    EXPECT_TRUE(QTest::qWaitFor([&] { return controller->isCompanionVisible(); }, 10'000))
        << qPrintable(log.lines.join('\n'));
    EXPECT_EQ(log.count("Visibility=shown reason=window"), 1);
    qint64 started = 0;
    for (const DesktopWindows::Window& w : DesktopWindows::shared().windows()) {
        if (w.program() == QLatin1String("session-tool")) started = w.pid;
    }
    ASSERT_GT(started, 0);
    ::kill(static_cast<pid_t>(started), SIGKILL);
    EXPECT_TRUE(QTest::qWaitFor([&] { return log.count("Close reason=settings-terminated") == 1; }, 5'000));
}

}  // namespace
}  // namespace kelto
