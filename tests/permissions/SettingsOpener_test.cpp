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

// A launcher that refuses the first `refusals` commands and records all.
struct RecordingLaunch {
    int refusals = 1'000;
    Commands commands;

    SettingsOpener opener(const QString& currentDesktop) {
        return {[this](const QStringList& command) {
                    commands.push_back(command);
                    return static_cast<int>(commands.size()) > refusals;
                },
                DesktopKinds::fromCurrentDesktop(currentDesktop), QStringLiteral("/home/u/.config/autostart")};
    }
};

class SettingsOpenerTest : public testing::Test {
protected:
    SettingsOpenerTest() {
        // No settings program of any desktop on PATH.
        environment.set("PATH", emptyFolder.path().toUtf8());
    }

    QTemporaryDir emptyFolder;
    test::ScopedEnvironment environment;
};

TEST_F(SettingsOpenerTest, EachDesktopTriesItsProgramsInOrderThenTheFallbackAndAllRefusedIsFalse) {
    const QString autostart = QStringLiteral("/home/u/.config/autostart");
    struct Case {
        QString desktop;
        SettingsDestination destination;
        Commands expected;
    };
    const std::vector<Case> cases{
        {"GNOME", SettingsDestination::notifications("kelto-sync"),
         {{"gnome-control-center", "notifications"}, {"gnome-control-center"}}},
        {"ubuntu:GNOME", SettingsDestination::privacy(PrivacyAnchor::allFiles), {{"gnome-control-center"}}},
        {"KDE", SettingsDestination::loginItems(),
         {{"systemsettings", "kcm_autostart"},
          {"kcmshell6", "kcm_autostart"},
          {"kcmshell5", "kcm_autostart"},
          {"xdg-open", autostart}}},
        // A desktop we do not know, with no settings program on PATH.
        {"X-Cinnamon", SettingsDestination::notifications("kelto-sync"), {}},
        {"", SettingsDestination::loginItems(), {{"xdg-open", autostart}}},
    };
    for (const Case& c : cases) {
        RecordingLaunch launch;
        EXPECT_FALSE(launch.opener(c.desktop).open(c.destination)) << qPrintable(c.desktop);
        EXPECT_EQ(launch.commands, c.expected) << qPrintable(c.desktop);
    }
}

TEST_F(SettingsOpenerTest, TheFirstProgramThatStartsEndsTheTriesAndTheLoginItemsAnswerTheirLaunch) {
    RecordingLaunch secondStarts{1, {}};
    EXPECT_TRUE(secondStarts.opener("KDE").open(SettingsDestination::notifications("kelto-sync")));
    EXPECT_EQ(secondStarts.commands.size(), 2u);
    // Only the folder's opener starts.
    RecordingLaunch folderOpens{2, {}};
    EXPECT_TRUE(folderOpens.opener("GNOME").open(SettingsDestination::loginItems()));
    EXPECT_EQ(folderOpens.commands.back().first(), "xdg-open");
}

TEST_F(SettingsOpenerTest, ProgramsStartWithoutAShellAndTheSettingsProgramIsFoundOnPath) {
    test::FakePrograms programs;
    for (const char* name : {"show-arguments", "xdg-open", "systemsettings"}) programs.add(QString::fromLatin1(name));
    environment.set("PATH", programs.folder().toUtf8());
    const QStringList arguments{"two words", "a;b", "'quoted'", "$HOME", "`x`", ""};
    ASSERT_TRUE(ProgramLauncher::start(QStringList{"show-arguments"} + arguments));
    auto start = programs.next();
    ASSERT_TRUE(start);
    EXPECT_EQ(start->program, "show-arguments");
    EXPECT_EQ(start->arguments, arguments);
    QString error;
    EXPECT_FALSE(ProgramLauncher::start({"not-a-program-here"}, &error));
    EXPECT_FALSE(error.isEmpty());
    // An unknown desktop opens the first settings program on PATH; the
    // autostart folder, under a name a shell would split, is made and shown.
    QTemporaryDir config;
    const QString configHome = config.path() + QStringLiteral("/my config; rm -rf x");
    environment.set("XDG_CONFIG_HOME", configHome.toUtf8());
    environment.set("XDG_CURRENT_DESKTOP", "X-Cinnamon");
    const SettingsOpener opener = SettingsOpener::system();
    EXPECT_TRUE(opener.open(SettingsDestination::privacy(PrivacyAnchor::allFiles)));
    start = programs.next();
    ASSERT_TRUE(start);
    EXPECT_EQ(start->program, "systemsettings");
    EXPECT_TRUE(start->arguments.isEmpty());
    EXPECT_TRUE(opener.open(SettingsDestination::loginItems()));
    start = programs.next();
    ASSERT_TRUE(start);
    EXPECT_EQ(start->program, "xdg-open");
    EXPECT_EQ(start->arguments, QStringList{configHome + QStringLiteral("/autostart")});
    EXPECT_TRUE(QDir(configHome + QStringLiteral("/autostart")).exists());
}

TEST(SettingsDestinationTest, PayloadsCountOnlyForTheirOwnCase) {
    EXPECT_EQ(SettingsDestination::privacy(PrivacyAnchor::allFiles),
              SettingsDestination::privacy(*PrivacyAnchors::fromRawValue("Privacy_AllFiles")));
    EXPECT_FALSE(SettingsDestination::privacy(PrivacyAnchor::allFiles) ==
                 SettingsDestination::privacy(PrivacyAnchor::accessibility));
    EXPECT_FALSE(SettingsDestination::notifications("a") == SettingsDestination::notifications("b"));
    SettingsDestination stray = SettingsDestination::loginItems();
    stray.bundleID = QStringLiteral("ignored");
    EXPECT_EQ(stray, SettingsDestination::loginItems());
    EXPECT_FALSE(PrivacyAnchors::fromRawValue("Privacy_Camera"));
}

}  // namespace
}  // namespace kelto
