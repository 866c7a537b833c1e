#include "KeltoPermissions/AppInstallLocation.h"
#include "KeltoPermissions/AppRelauncher.h"
#include "KeltoPermissions/SettingsOpener.h"
#include "Platform/Desktop/ProgramLauncher.h"
#include "tests/permissions/FakePrograms.h"
#include "tests/permissions/ScopedEnvironment.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace kelto {
namespace {

using State = AppRelauncher::State;
using Commands = std::vector<QStringList>;

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

// Each desktop's programs in order, then the fallback; with no settings program of any desktop on PATH, a launcher
// that starts from the `starts`th command on and records all.
TEST(SettingsOpenerTest, EachDesktopTriesItsProgramsInOrderUntilOneStarts) {
    QTemporaryDir emptyFolder, config;
    test::ScopedEnvironment environment;
    environment.set("PATH", emptyFolder.path().toUtf8());
    const QString autostart = config.path() + QStringLiteral("/autostart");  // made for xdg-open to show
    struct Case {
        QString desktop;
        SettingsDestination destination;
        int starts;
        Commands expected;
    };
    const std::vector<Case> cases{
        {"GNOME", SettingsDestination::notifications("kelto-sync"), 0,
         {{"gnome-control-center", "notifications"}, {"gnome-control-center"}}},
        {"ubuntu:GNOME", SettingsDestination::privacy(PrivacyAnchor::allFiles), 0, {{"gnome-control-center"}}},
        {"KDE", SettingsDestination::loginItems(), 0,
         {{"systemsettings", "kcm_autostart"}, {"kcmshell6", "kcm_autostart"}, {"kcmshell5", "kcm_autostart"},
          {"xdg-open", autostart}}},
        {"X-Cinnamon", SettingsDestination::notifications("kelto-sync"), 0, {}},
        {"", SettingsDestination::loginItems(), 0, {{"xdg-open", autostart}}},
        {"KDE", SettingsDestination::notifications("kelto-sync"), 2,
         {{"systemsettings", "kcm_notifications"}, {"kcmshell6", "kcm_notifications"}}},
        {"GNOME", SettingsDestination::loginItems(), 3,
         {{"gnome-session-properties"}, {"gnome-tweaks"}, {"xdg-open", autostart}}},
    };
    for (const Case& c : cases) {
        Commands commands;
        const auto launch = [&](const QStringList& command) {
            return commands.push_back(command), int(commands.size()) == c.starts;
        };
        const SettingsOpener opener{launch, DesktopKinds::fromCurrentDesktop(c.desktop), autostart};
        EXPECT_EQ(opener.open(c.destination), c.starts > 0) << qPrintable(c.desktop);
        EXPECT_EQ(commands, c.expected) << qPrintable(c.desktop);
    }
}

TEST(SettingsOpenerTest, ProgramsStartWithoutAShellAndTheSettingsProgramIsFoundOnPath) {
    test::FakePrograms programs;
    test::ScopedEnvironment environment;
    for (const char* name : {"show-arguments", "xdg-open", "systemsettings"}) programs.add(QString::fromLatin1(name));
    environment.set("PATH", programs.folder().toUtf8());
    const QStringList arguments{"two words", "a;b", "'quoted'", "$HOME", "`x`", ""};
    ASSERT_TRUE(ProgramLauncher::start(QStringList{"show-arguments"} + arguments));
    const auto started = [&] { return programs.next().value_or(test::FakePrograms::Start{}); };
    EXPECT_EQ(started().arguments, arguments);
    QString error;
    EXPECT_FALSE(ProgramLauncher::start({"not-a-program-here"}, &error));
    EXPECT_FALSE(error.isEmpty());
    // An unknown desktop opens the first settings program on PATH; the autostart folder, under a name a shell would
    // split, is made and shown.
    QTemporaryDir config;
    const QString configHome = config.path() + QStringLiteral("/my config; rm -rf x");
    environment.set("XDG_CONFIG_HOME", configHome.toUtf8());
    environment.set("XDG_CURRENT_DESKTOP", "X-Cinnamon");
    const SettingsOpener opener = SettingsOpener::system();
    EXPECT_TRUE(opener.open(SettingsDestination::privacy(PrivacyAnchor::allFiles)));
    const auto settings = started();
    EXPECT_EQ(settings.program + settings.arguments.join(u' '), "systemsettings");
    EXPECT_TRUE(opener.open(SettingsDestination::loginItems()));
    const auto folder = started();
    EXPECT_EQ(QStringList{folder.program} + folder.arguments, (QStringList{"xdg-open", configHome + "/autostart"}));
    EXPECT_TRUE(QDir(configHome + QStringLiteral("/autostart")).exists());
}

}  // namespace
}  // namespace kelto
