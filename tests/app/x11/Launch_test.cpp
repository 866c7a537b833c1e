// Starts the real executable on a virtual X server with a session bus of its own (xvfb-run, openbox,
// dbus-run-session) and looks at its windows with xwininfo.
#include <QProcess>
#include <QSettings>
#include <QTest>

#include "tests/app/AppProcess.h"
#include "tests/support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <memory>

using namespace kelto;

namespace {

const QString mainWindowTitle = QStringLiteral("Kelto Sync");

// Whether a window of that name and of the program's class is on screen: Qt keeps a hidden 1x1 helper window with
// the application's name, so the name alone can find the wrong one.
bool windowShown(const QString& name) {
    QProcess tree;
    tree.start(QStringLiteral("xwininfo"), {QStringLiteral("-root"), QStringLiteral("-tree")});
    tree.waitForFinished();
    const QString wanted = QLatin1Char('"') + name + QStringLiteral("\": (\"kelto-sync\"");
    for (const QString& line : QString::fromUtf8(tree.readAllStandardOutput()).split(QLatin1Char('\n'))) {
        if (!line.contains(wanted)) continue;
        QProcess info;
        info.start(QStringLiteral("xwininfo"), {QStringLiteral("-id"), line.trimmed().section(QLatin1Char(' '), 0, 0)});
        info.waitForFinished();
        if (info.exitCode() == 0 && info.readAllStandardOutput().contains("Map State: IsViewable")) return true;
    }
    return false;
}

struct Launches : ::testing::Test {
    test::TemporaryFolder home;
    QProcessEnvironment environment = test::scratchEnvironment(home);
    std::vector<std::unique_ptr<QProcess>> started;
    Launches() {
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString((home / "config").string()));
    }
    // Stops what is still running as the desktop would at logout.
    ~Launches() override {
        for (auto& process : started) {
            if (process->state() == QProcess::NotRunning) continue;
            process->terminate();
            if (!process->waitForFinished(30000)) process->kill();
            EXPECT_EQ(process->exitStatus(), QProcess::NormalExit);
            EXPECT_EQ(process->exitCode(), 0) << process->readAllStandardError().toStdString();
        }
    }
    void finishOnboarding() {
        QSettings settings(QString::fromStdString((home / "config/Kelto/Kelto Sync.conf").string()),
                           QSettings::IniFormat);
        settings.setValue(QStringLiteral("onboarding.done"), true);
    }
    QProcess& launch(const QStringList& arguments = {}) {
        auto& process = started.emplace_back(std::make_unique<QProcess>());
        process->setProcessEnvironment(environment);
        process->start(QStringLiteral(KELTO_SYNC_EXECUTABLE), arguments);
        EXPECT_TRUE(process->waitForStarted());
        return *process;
    }
    // Its event loop runs, so what the launch decided is done.
    static bool settled(QProcess& process) {
        return QTest::qWaitFor(
            [&] { return process.state() == QProcess::Running && test::waitsInEventLoop(process.processId()); },
            30000);
    }
    static bool exitsCleanly(QProcess& process) {
        return (process.state() == QProcess::NotRunning || process.waitForFinished(30000)) &&
               process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    }
};

}  // namespace

TEST_F(Launches, aLoginItemAfterOnboardingShowsNoWindowUntilLaunchedAgain) {
    finishOnboarding();
    QProcess& first = launch({QStringLiteral("--login-item")});
    ASSERT_TRUE(settled(first)) << first.readAllStandardError().toStdString();
    EXPECT_FALSE(windowShown(mainWindowTitle));
    QProcess& second = launch();
    EXPECT_TRUE(exitsCleanly(second)) << second.readAllStandardError().toStdString();
    EXPECT_TRUE(QTest::qWaitFor([] { return windowShown(mainWindowTitle); }, 30000));
    EXPECT_EQ(first.state(), QProcess::Running);
}

TEST_F(Launches, twoAtOnceLeaveOne) {
    finishOnboarding();
    QProcess& one = launch();
    QProcess& other = launch();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return one.state() == QProcess::NotRunning || other.state() == QProcess::NotRunning; }, 30000));
    QProcess& ended = one.state() == QProcess::NotRunning ? one : other;
    QProcess& left = &ended == &one ? other : one;
    EXPECT_TRUE(exitsCleanly(ended)) << ended.readAllStandardError().toStdString();
    ASSERT_TRUE(settled(left));
    EXPECT_TRUE(QTest::qWaitFor([] { return windowShown(mainWindowTitle); }, 30000));
}
