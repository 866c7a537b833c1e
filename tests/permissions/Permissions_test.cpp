#include "FenraCore/StringTable.h"
#include "FenraCore/TextFormat.h"
#include "KeltoPermissions/AppInstallLocation.h"
#include "KeltoPermissions/AppRelauncher.h"
#include "KeltoPermissions/FullDiskAccessProbe.h"
#include "KeltoPermissions/LoginItemProbe.h"
#include "KeltoPermissions/PermissionItems.h"
#include "KeltoPermissions/PermissionStatus.h"
#include "KeltoPermissions/PermissionStrings.h"
#include "KeltoPermissions/SettingsOpener.h"
#include "Platform/Desktop/AutostartEntry.h"
#include "Platform/Desktop/AutostartEntryError.h"
#include "Platform/Desktop/DesktopEntryExec.h"
#include "Platform/Desktop/ProgramLauncher.h"
#include "tests/permissions/FakePrograms.h"
#include "tests/permissions/ScopedEnvironment.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <map>
#include <stdexcept>
#include <string>
#include <system_error>
#include <tuple>
#include <vector>

namespace kelto {
namespace {

using std::filesystem::path;
using S = PermissionStatus;
using State = AppRelauncher::State;
using Commands = std::vector<QStringList>;

void write(const QString& path, const QByteArray& content) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

// Answers each path with the error set for it and records what was listed: as root, the real disk refuses nothing.
// A negative error comes wrapped in another, as a failed listing's may.
struct FakeFileAccess final : ProbeFileAccess {
    std::map<path, int> errors;
    mutable std::vector<path> listed;
    void readOneByte(const path& file) const override { answer(file); }
    void listFolder(const path& folder) const override { listed.push_back(folder), answer(folder); }
    void answer(const path& at) const {
        const auto error = errors.find(at);
        if (error == errors.end()) return;
        if (error->second > 0) throw std::system_error(error->second, std::generic_category(), at.string());
        try {
            throw std::system_error(-error->second, std::generic_category(), at.string());
        } catch (...) {
            std::throw_with_nested(std::runtime_error("the listing failed"));
        }
    }
};

// A database of zero length reads nothing, and that is enough.
TEST(FullDiskAccessProbeTest, ARefusalAnywhereMeansMissingOtherFailuresCannotBeTold) {
    const path db = "/var/db/protected.db", desktop = "/home/u/Desktop", documents = "/home/u/Documents";
    const std::map<path, int> refused{{db, EACCES}, {desktop, EPERM}, {documents, EACCES}},
        absent{{db, ENOENT}, {desktop, ENOENT}, {documents, ENOENT}};
    struct Row {
        std::map<path, int> errors;
        bool withDatabase, withFolders;
        S expected;
        std::vector<path> listed;
    };
    const Row rows[] = {
        {{}, true, true, S::granted, {}},
        {refused, true, true, S::missing, {desktop, documents}},
        {absent, true, true, S::unverifiable, {desktop, documents}},
        {{{desktop, ENOENT}, {documents, -EPERM}}, false, true, S::missing, {desktop, documents}},
        {{{db, EACCES}}, true, true, S::granted, {desktop}},
        {refused, true, false, S::missing, {}},
        {absent, true, false, S::unverifiable, {}},
        {refused, false, false, S::unverifiable, {}},
    };
    for (const Row& row : rows) {
        FakeFileAccess files;
        files.errors = row.errors;
        const auto folders = row.withFolders ? std::vector<path>{desktop, documents} : std::vector<path>{};
        EXPECT_EQ(FullDiskAccessProbe::status(row.withDatabase ? std::optional(db) : std::nullopt, folders, files),
                  row.expected) << &row - rows;
        EXPECT_EQ(files.listed, row.listed) << &row - rows;
    }
    EXPECT_FALSE(FullDiskAccessProbe::isPermissionError(std::runtime_error("other")));
}

TEST(FullDiskAccessProbeTest, TheSystemAccessAndTheFoldersOfTheUser) {
    QTemporaryDir home;
    QFile(home.path() + QStringLiteral("/empty")).open(QIODevice::WriteOnly);
    const path root = home.path().toStdString();
    const ProbeFileAccess& system = ProbeFileAccess::system();
    EXPECT_EQ(FullDiskAccessProbe::status(root / "empty", {}, system), S::granted);
    EXPECT_EQ(FullDiskAccessProbe::status(root / "none", {root / "none"}, system), S::unverifiable);
    EXPECT_EQ(FullDiskAccessProbe::status(std::nullopt, {root / "empty", root}, system), S::granted);
    test::ScopedEnvironment environment;
    environment.set("HOME", home.path().toUtf8());
    environment.set("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/.config")).toUtf8());
    environment.set("USER", "alice");
    write(home.path() + QStringLiteral("/.config/user-dirs.dirs"),
          "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\nXDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n");
    EXPECT_EQ(FullDiskAccessProbe::defaultDirectories(),
              (std::vector<path>{root / "Schreibtisch", root / "Dokumente", "/media/alice", "/run/media/alice"}));
    QDir(home.path()).mkpath(QStringLiteral("Schreibtisch"));
    const PermissionItem item =
        PermissionItems::fullDiskAccess(QStringLiteral("detail"), PermissionRequirement::required, PermissionStrings());
    const auto answer = test::await<S>(item.check);
    EXPECT_FALSE(answer.answeredInside);
    EXPECT_EQ(answer.value, S::granted);
}

TEST(DesktopEntryExecTest, QuotingRoundTripsAndFieldCodesAreLeftOut) {
    const QStringList command{"/opt/My \"Apps\"/it's 100% $HOME/`x`\\y/kelto", "--login-item", "", "plain"};
    EXPECT_EQ(DesktopEntryExec::parse(DesktopEntryExec::quote(command)), command);
    // A quote inside quotes is escaped, and the backslash escaped again as any string value's is.
    EXPECT_EQ(DesktopEntryExec::quote({"a\"b"}), "\"a\\\\\"b\"");
    EXPECT_EQ(DesktopEntryExec::quote({"/usr/bin/kelto", "50%"}), "/usr/bin/kelto 50%%");
    EXPECT_EQ(DesktopEntryExec::parse("kelto %U --name \"a b\" 100%% %f"),
              (QStringList{"kelto", "--name", "a b", "100%"}));
    EXPECT_EQ(DesktopEntryExec::parse("kelto\\sone"), (QStringList{"kelto", "one"}));
    EXPECT_FALSE(DesktopEntryExec::parse("\"/opt/kelto --login-item"));
}

// Our program lives in a folder whose name needs every kind of quoting.
struct LoginItemTest : testing::Test {
    LoginItemTest() {
        environment.set("XDG_CONFIG_HOME", (root.path() + QStringLiteral("/config")).toUtf8());
        const QString folder = root.path() + QStringLiteral("/Kelto \"Sync\" 100% $HOME 'x'");
        item = {AutostartEntry::path(QStringLiteral("kelto-sync.desktop")), folder + QStringLiteral("/kelto-sync"),
                QStringLiteral("Kelto Sync")};
        makeProgram();
    }
    void makeProgram() {
        write(item.executable, "#!/bin/sh\n");
        QFile::setPermissions(item.executable, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    S check(const PermissionItem& permission) {
        const auto answer = test::await<S>(permission.check);
        EXPECT_FALSE(answer.answeredInside);
        return answer.value.value_or(S::checking);
    }
    QTemporaryDir root;
    test::ScopedEnvironment environment;
    LoginItem item;
};

TEST_F(LoginItemTest, TheRequestWritesAnEntryThatStartsUsAndTheErrorsAreSetKeptAndCleared) {
    const QByteArray exec = "Exec=" + DesktopEntryExec::quote(item.command()).toUtf8() + "\n";
    const PermissionItem permission = PermissionItems::loginItem(
        QStringLiteral("detail"), PermissionRequirement::recommended, PermissionStrings(), std::nullopt, item);
    EXPECT_TRUE(item.entryPath.startsWith(root.path() + QStringLiteral("/config/autostart/")));
    write(root.path() + QStringLiteral("/config"), "a file where the folder should be");
    EXPECT_THROW(LoginItemProbe::registerItem(item), AutostartEntryError);
    ASSERT_TRUE(test::awaitDone(permission.request).value);
    EXPECT_TRUE(permission.requestState->error.value_or("").contains(item.entryPath));
    ASSERT_TRUE(QFile::remove(root.path() + QStringLiteral("/config")));
    EXPECT_EQ(check(permission), S::missing);
    ASSERT_TRUE(test::awaitDone(permission.request).value);
    EXPECT_FALSE(permission.requestState->error);
    EXPECT_EQ(check(permission), S::granted);
    EXPECT_EQ(AutostartEntry::read(item.entryPath).value().command, (QStringList{item.executable, "--login-item"}));
    QFile::remove(item.executable);
    EXPECT_EQ(check(permission), S::missing);
    EXPECT_EQ(permission.requestState->error, "The login item could not be found.");
    makeProgram();
    write(item.entryPath, "[Desktop Entry]\nType=Application\nHidden=true\n" + exec);
    EXPECT_EQ(check(permission), S::missing);
    EXPECT_EQ(permission.requestState->error, "The login item could not be found.");
    AutostartEntry::write(item.entryPath, item.name, item.command());
    EXPECT_EQ(check(permission), S::granted);
    EXPECT_FALSE(permission.requestState->error);
    SCOPED_TRACE("OnlyAnEnabledEntryStartingThisProgramCountsAndAnUnreadableOneCannotBeTold");
    struct Case {
        QByteArray content;
        LoginItemState state;
    };
    const std::vector<Case> cases{
        {"[Desktop Entry]\n" + exec, LoginItemState::enabled},
        {"# ours\n[Desktop Entry]\nName=Kelto Sync\n" + exec + "X-GNOME-Autostart-enabled = false\n",
         LoginItemState::notRegistered},
        {"[Desktop Entry]\nHidden=true\n" + exec, LoginItemState::notRegistered},
        {"[Desktop Entry]\nExec=sh -c true\n", LoginItemState::notRegistered},
        {"[Desktop Entry]\nExec=kelto-program-that-is-nowhere --login-item\n", LoginItemState::notFound},
        {"[Desktop Entry]\nName=No command\n", LoginItemState::notFound},
        {"[Other Group]\n" + exec, LoginItemState::notFound},
    };
    for (const Case& c : cases) {
        write(item.entryPath, c.content);
        EXPECT_EQ(LoginItemProbe::state(item), c.state) << c.content.constData();
    }
    QFile::remove(item.entryPath);
    EXPECT_EQ(LoginItemProbe::state(item), LoginItemState::notRegistered);
    QDir().mkpath(item.entryPath);
    EXPECT_EQ(LoginItemProbe::state(item), LoginItemState::unreadable);
    EXPECT_EQ(LoginItemProbe::permissionStatus(LoginItemState::unreadable), S::unverifiable);
}

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
    EXPECT_EQ(programs.started().arguments, (QStringList{"--relaunch-after", "4242"}));
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

// The launcher starts from the `starts`th command on; no settings program of any desktop is on PATH.
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
    SCOPED_TRACE("ProgramsStartWithoutAShellAndTheSettingsProgramIsFoundOnPath");
    test::FakePrograms programs;
    for (const char* name : {"show-arguments", "xdg-open", "systemsettings"}) programs.add(QString::fromLatin1(name));
    environment.set("PATH", programs.folder().toUtf8());
    const QStringList arguments{"two words", "a;b", "'quoted'", "$HOME", "`x`", ""};
    ASSERT_TRUE(ProgramLauncher::start(QStringList{"show-arguments"} + arguments));
    EXPECT_EQ(programs.started().arguments, arguments);
    QString error;
    EXPECT_FALSE(ProgramLauncher::start({"not-a-program-here"}, &error));
    EXPECT_FALSE(error.isEmpty());
    // An unknown desktop opens the first settings program on PATH.
    const QString configHome = config.path() + QStringLiteral("/my config; rm -rf x");
    environment.set("XDG_CONFIG_HOME", configHome.toUtf8());
    environment.set("XDG_CURRENT_DESKTOP", "X-Cinnamon");
    const SettingsOpener opener = SettingsOpener::system();
    EXPECT_TRUE(opener.open(SettingsDestination::privacy(PrivacyAnchor::allFiles)));
    EXPECT_EQ(programs.started().command(), QStringList{"systemsettings"});
    EXPECT_TRUE(opener.open(SettingsDestination::loginItems()));
    EXPECT_EQ(programs.started().command(), (QStringList{"xdg-open", configHome + "/autostart"}));
    EXPECT_TRUE(QDir(configHome + QStringLiteral("/autostart")).exists());
}

const QStringList five = PermissionStrings::supportedLanguages();

// A folder name wins, then the first user language the host carries, then English.
TEST(PermissionStringsLanguage, TheHostsDeclaredLanguagesChoose) {
    EXPECT_EQ(PermissionStrings::chooseLanguage(QStringLiteral("/opt/kelto/ja.lproj"), five, {"vi"}), "ja");
    EXPECT_EQ(PermissionStrings::chooseLanguage(QStringLiteral("/opt/kelto/ko.lproj/"), five, {"vi"}), "ko");
    EXPECT_EQ(PermissionStrings::chooseLanguage(QStringLiteral("/opt/kelto/fr.lproj"), five, {"vi"}), "en");
    // French is carried, so it is the candidate, and not supported.
    EXPECT_EQ(PermissionStrings::chooseLanguage({}, {"en", "fr", "ja"}, {"fr-FR", "ja"}), "en");
    EXPECT_EQ(PermissionStrings::chooseLanguage({}, five, {"de-DE", "ja_JP.UTF-8"}), "ja");
    EXPECT_EQ(PermissionStrings::chooseLanguage({}, five, {"zh_TW"}), "zh-Hant");
    EXPECT_EQ(PermissionStrings::chooseLanguage({}, five, {"zh-HK"}), "zh-Hant");
    EXPECT_EQ(PermissionStrings::chooseLanguage({}, five, {"zh-Hant-TW"}), "zh-Hant");
    EXPECT_EQ(PermissionStrings::chooseLanguage({}, five, {"zh_CN"}), "en");
    EXPECT_EQ(PermissionStrings::chooseLanguage({}, {"en", "zh-Hans"}, {"zh_CN", "vi"}), "en");
    EXPECT_EQ(PermissionStrings::chooseLanguage({}, five, {}), "en");
    EXPECT_EQ(PermissionStrings(QStringLiteral("/opt/kelto/vi.lproj"), five, {"ja"}).language(), "vi");
    const QStringList vietnamese{"vi_VN.UTF-8", "vi"};
    StringTable::setHostLanguages(QStringList{"en"});
    EXPECT_EQ(PermissionStrings({}, PermissionStrings::declaredHostLanguages(), vietnamese).language(), "en");
    EXPECT_EQ(PermissionStrings({}, PermissionStrings::declaredHostLanguages(), vietnamese).string("Done"), "Done");
    StringTable::setHostLanguages(QStringList{"en", "vi"});
    EXPECT_EQ(PermissionStrings({}, PermissionStrings::declaredHostLanguages(), vietnamese).language(), "vi");
    StringTable::setHostLanguages(std::nullopt);
    EXPECT_EQ(PermissionStrings::declaredHostLanguages(), five);
}

TEST(PermissionStringsLookup, AFolderAnswersAloneTheCatalogueServesTheRestUnlessAnEntryHasAnotherShape) {
    QTemporaryDir root;
    const auto strings = [&](const QString& language, const QString& folder) {
        return PermissionStrings(QStringLiteral("/opt/") + language + QStringLiteral(".lproj"), five, {},
                                 root.path() + u'/' + folder);
    };
    write(root.filePath(QStringLiteral("good/vi.lproj/Localizable.json")), R"({"On": "Bật"})");
    write(root.filePath(QStringLiteral("good/Localizable.xcstrings")), R"({
        "sourceLanguage": "en", "version": "1.0",
        "strings": {
            "Allowed": {"comment": "status", "localizations": {
                "vi": {"stringUnit": {"state": "translated", "value": "Đã cho phép"}},
                "ko": {"stringUnit": {"state": "translated", "value": "허용됨"}}}},
            "Off": {"localizations": {
                "en": {"stringUnit": {"state": "translated", "value": "OFF"}},
                "vi": {"stringUnit": {"state": "translated", "value": "Tắt"}}}}
        }})");
    const PermissionStrings vietnamese = strings(QStringLiteral("vi"), QStringLiteral("good"));
    EXPECT_EQ(vietnamese.string(QStringLiteral("On")), "Bật");
    EXPECT_EQ(vietnamese.string(QStringLiteral("Allowed")), "Allowed");
    const PermissionStrings korean = strings(QStringLiteral("ko"), QStringLiteral("good"));
    EXPECT_EQ(korean.string(QStringLiteral("Allowed")), "허용됨");
    EXPECT_EQ(korean.string(QStringLiteral("Off")), "Off");
    EXPECT_EQ(korean.string(QStringLiteral("Unknown key")), "Unknown key");
    write(root.filePath(QStringLiteral("plural/Localizable.xcstrings")), R"({"strings": {
            "Allowed": {"localizations": {"ko": {"stringUnit": {"value": "허용됨"}}}},
            "%lld of %lld ready": {"localizations": {"ko": {"variations": {"plural": {}}}}}
        }})");
    EXPECT_EQ(strings(QStringLiteral("ko"), QStringLiteral("plural")).string(QStringLiteral("Allowed")), "Allowed");
    write(root.filePath(QStringLiteral("bare/Localizable.xcstrings")),
          R"({"strings": {"Allowed": {"localizations": {"ko": {"stringUnit": {"value": "허용됨"}}}},
                          "Off": {"comment": "no translations yet"}}})");
    EXPECT_EQ(strings(QStringLiteral("ko"), QStringLiteral("bare")).string(QStringLiteral("Allowed")), "Allowed");
    EXPECT_EQ(strings(QStringLiteral("ko"), QStringLiteral("none")).string(QStringLiteral("Allowed")), "Allowed");
}

const QStringList packageKeys{
    "Checking…", "Allowed", "Not allowed", "On", "Off", "Turned off in System Settings", "Needs approval",
    "Restart needed", "Can't verify", "Full Disk Access", "Open at login", "The login item could not be found.",
    "Notifications", "Review this setting, then return to %@.", "Find %@ in the list and turn it on.",
    "Not in the list? Drag it in:", "Move %@ to Applications and reopen it.", "Show in Finder",
    "No file manager could show %@.",
    "Still not working? Select %@, remove it with −, then drag it in again.",
    "Switch greyed out? An administrator or your organization manages this setting.", "Turn on %@", "Back to %@",
    "Restart %@", "Drag into the list", "%lld of %lld ready", "Done", "Set up later", "Required", "Recommended",
    "Optional", "Allow", "Turn On", "Open System Settings", "Marked done", "I've done this",
    "The settings could not be opened."};

TEST(PermissionStringsShipped, EveryKeyIsTranslatedAndEnglishNamesThePlacesOfThisSystem) {
    for (const QString& language : QStringList{"vi", "ja", "ko", "zh-Hant"}) {
        const PermissionStrings strings({}, five, {language});
        ASSERT_EQ(strings.language(), language);
        for (const QString& key : packageKeys) {
            const QString text = strings.string(key);
            EXPECT_NE(text, key) << qPrintable(language) << ": " << qPrintable(key);
            EXPECT_EQ(text.count(QStringLiteral("%@")), key.count(QStringLiteral("%@"))) << qPrintable(key);
        }
    }
    const PermissionStrings english({}, five, {"en-GB"});
    EXPECT_EQ(english.string(QStringLiteral("Turned off in System Settings")), "Turned off in Settings");
    EXPECT_EQ(english.string(QStringLiteral("Open System Settings")), "Open Settings");
    EXPECT_EQ(english.string(QStringLiteral("Show in Finder")), "Show in File Manager");
    EXPECT_EQ(english.string(PermissionStatuses::title(PermissionStatus::granted, PermissionPresentation::setting)),
              "On");
    const QString ready = QStringLiteral("%lld of %lld ready");
    EXPECT_EQ(TextFormat::format(english.string(ready), {2, 3}, english.locale()), "2 of 3 ready");
    const PermissionStrings japanese({}, five, {"ja"});
    EXPECT_EQ(TextFormat::format(japanese.string(ready), {2, 3}, japanese.locale()), "3 件中 2 件完了");
}

}  // namespace
}  // namespace kelto
