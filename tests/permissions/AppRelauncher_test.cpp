#include "KeltoPermissions/AppInstallLocation.h"
#include "KeltoPermissions/AppRelauncher.h"
#include "tests/permissions/FakePrograms.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kelto {
namespace {

using State = AppRelauncher::State;

TEST(AppRelauncherTest, OnlyARequestedTerminationLaunchesAndOnlyOnce) {
    struct Case {
        std::string events;  // r: request, c: cancel, t: will terminate
        int terminationRequests;
        int launches;
        State state;
    };
    const std::vector<Case> cases{
        {"rrct", 1, 0, State::idle},    // asked once; the quit was cancelled, then an ordinary quit
        {"rtt", 1, 1, State::launched},
        {"rtrct", 1, 1, State::launched},
        {"c", 0, 0, State::idle},
        {"t", 0, 0, State::idle},
        {"rcrt", 2, 1, State::launched},
    };
    for (const Case& c : cases) {
        int terminationRequests = 0;
        int launches = 0;
        AppRelauncher relauncher([&] { ++terminationRequests; }, [&] { ++launches; });
        for (const char event : c.events) {
            if (event == 'r') relauncher.requestRelaunch();
            if (event == 'c') relauncher.cancelRelaunch();
            if (event == 't') relauncher.applicationWillTerminate();
        }
        EXPECT_EQ(terminationRequests, c.terminationRequests) << c.events;
        EXPECT_EQ(launches, c.launches) << c.events;
        EXPECT_EQ(relauncher.state(), c.state) << c.events;
    }
}

struct LoggedMessage {
    QtMsgType type;
    QString category;
    QString text;
};
std::vector<LoggedMessage> logged;

TEST(AppRelauncherTest, TheLaunchStartsTheProgramToWaitForUsAndAFailureIsLogged) {
    test::FakePrograms programs;
    const QString executable = programs.add(QStringLiteral("kelto-sync"));
    EXPECT_TRUE(AppRelauncher::launch(AppRelauncher::relaunchCommand(executable, 4242)));
    const auto start = programs.next();
    ASSERT_TRUE(start);
    EXPECT_EQ(start->arguments, (QStringList{"--relaunch-after", "4242"}));
    logged.clear();
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext& context, const QString& text) {
            logged.push_back({type, QString::fromUtf8(context.category), text});
        });
    EXPECT_FALSE(AppRelauncher::launch(AppRelauncher::relaunchCommand(programs.folder() + "/gone", 4242)));
    qInstallMessageHandler(previous);
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0].type, QtCriticalMsg);
    EXPECT_EQ(logged[0].category, "KeltoPermissions.relaunch");
    EXPECT_TRUE(logged[0].text.startsWith("Relaunch failed: ")) << qPrintable(logged[0].text);
    EXPECT_GT(logged[0].text.size(), QStringLiteral("Relaunch failed: ").size());
}

TEST(AppInstallLocationTest, OnlyAWholeTranslocationComponentCountsAndBeatsReadOnly) {
    using Kind = AppInstallLocation::Kind;
    EXPECT_EQ(AppInstallLocation::detect("/private/AppTranslocation/ABC/Kelto", true).kind, Kind::translocated);
    EXPECT_EQ(AppInstallLocation::detect("/opt/MyAppTranslocation/Kelto", false).kind, Kind::normal);
    EXPECT_EQ(AppInstallLocation::detect("/media/disk/Kelto", true).kind, Kind::readOnlyVolume);
    QTemporaryDir writable;
    EXPECT_TRUE(AppInstallLocation::detect(writable.path().toStdString()).isNormal());
}

}  // namespace
}  // namespace kelto
