#include "KeltoPermissions/AppInstallLocation.h"
#include "KeltoPermissions/AppRelauncher.h"
#include "tests/permissions/FakePrograms.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace kelto {
namespace {

using State = AppRelauncher::State;

// r: request, c: cancel, t: will terminate. A cancelled quit asks once; an ordinary quit after it launches nothing.
TEST(AppRelauncherTest, OnlyARequestedTerminationLaunchesAndOnlyOnce) {
    struct Case {
        const char* events;
        int asked, launched;
        State state;
    };
    for (const Case& c : {Case{"rrct", 1, 0, State::idle}, Case{"rtt", 1, 1, State::launched},
                          Case{"rtrct", 1, 1, State::launched}, Case{"c", 0, 0, State::idle},
                          Case{"t", 0, 0, State::idle}, Case{"rcrt", 2, 1, State::launched}}) {
        int asked = 0, launched = 0;
        AppRelauncher relauncher([&] { ++asked; }, [&] { ++launched; });
        for (const char event : std::string(c.events))
            event == 'r'   ? relauncher.requestRelaunch()
            : event == 'c' ? relauncher.cancelRelaunch()
                           : relauncher.applicationWillTerminate();
        EXPECT_EQ(std::tuple(asked, launched, relauncher.state()), std::tuple(c.asked, c.launched, c.state))
            << c.events;
    }
}

QStringList logged;

TEST(AppRelauncherTest, TheLaunchStartsTheProgramToWaitForUsAndAFailureIsLogged) {
    test::FakePrograms programs;
    const QString program = programs.add(QStringLiteral("kelto-sync"));
    EXPECT_TRUE(AppRelauncher::launch(AppRelauncher::relaunchCommand(program, 4242)));
    EXPECT_EQ(programs.next().value_or(test::FakePrograms::Start{}).arguments,
              (QStringList{"--relaunch-after", "4242"}));
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& text) {
            logged << QStringLiteral("%1 %2 %3").arg(int(type)).arg(QString::fromUtf8(context.category), text);
        });
    EXPECT_FALSE(AppRelauncher::launch(AppRelauncher::relaunchCommand(programs.folder() + "/gone", 4242)));
    qInstallMessageHandler(previous);
    const QString expected = QStringLiteral("%1 KeltoPermissions.relaunch Relaunch failed: ").arg(int(QtCriticalMsg));
    ASSERT_EQ(logged.size(), 1);
    EXPECT_TRUE(logged[0].startsWith(expected) && logged[0].size() > expected.size()) << qPrintable(logged[0]);
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
