#include "KeltoPermissions/SettingsOpener.h"
#include "Platform/Desktop/ProgramLauncher.h"
#include "tests/permissions/FakePrograms.h"
#include "tests/permissions/ScopedEnvironment.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <vector>

namespace kelto {
namespace {

using Commands = std::vector<QStringList>;

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
