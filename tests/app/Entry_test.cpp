#include <QAction>
#include <QProcess>
#include <QSettings>
#include <QTest>
#include <QWidget>

#include "Kelto_Sync/App/AppEntry.h"
#include "Kelto_Sync/App/KeltoSyncApp.h"
#include "Kelto_Sync/App/WindowMenu.h"
#include "SyncModel/JobStoreError.h"
#include "tests/app/AppProcess.h"
#include "tests/permissions/ScopedEnvironment.h"
#include "tests/support/FakeSystemEvents.h"
#include "tests/support/FakeVolumeEvents.h"
#include "tests/support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

using namespace kelto;

namespace {

std::set<std::filesystem::path> everythingUnder(const std::filesystem::path& folder) {
    std::set<std::filesystem::path> found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) found.insert(entry.path());
    return found;
}

class SilentNotifications final : public NotificationCenter {
public:
    void add(const NotificationRequest&) override {}
    void remove(const QString&) override {}
    void requestAuthorization(AuthorizationAnswer) override {}
    void setResponseHandler(ResponseHandler) override {}
};

}  // namespace

TEST(Entry, aRenderTestRunIsExactlyOneAndWritesNothingAndStartsNothing) {
    for (const QString& value : {QStringLiteral("1"), QStringLiteral("0"), QStringLiteral("1 "), QString(),
                                 QStringLiteral("true")}) {
        QProcessEnvironment environment;
        environment.insert(AppEntry::renderTestsVariable, value);
        EXPECT_EQ(AppEntry::isRenderTestRun(environment), value == QStringLiteral("1")) << value.toStdString();
    }
    EXPECT_FALSE(AppEntry::isRenderTestRun(QProcessEnvironment()));

    test::TemporaryFolder home;
    QProcessEnvironment environment = test::scratchEnvironment(home);
    environment.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(AppEntry::renderTestsVariable, QStringLiteral("1"));
    const std::set<std::filesystem::path> before = everythingUnder(home.path());
    QProcess program;
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(KELTO_SYNC_EXECUTABLE), {});
    ASSERT_TRUE(program.waitForStarted());
    const bool looping = QTest::qWaitFor(
        [&] { return program.state() != QProcess::Running || test::waitsInEventLoop(program.processId()); }, 30000);
    const bool running = program.state() == QProcess::Running;
    const std::set<std::filesystem::path> after = everythingUnder(home.path());
    program.kill();
    program.waitForFinished();
    ASSERT_TRUE(looping);
    EXPECT_TRUE(running) << program.readAllStandardError().toStdString();
    EXPECT_EQ(after, before);  // no jobs file, folders, lock, socket or settings
    EXPECT_TRUE(program.readAllStandardOutput().isEmpty());
}

TEST(Entry, withoutARuntimeSettingsIsOff) {
    QWidget window;
    int settingsOpened = 0, quits = 0;
    const WindowMenu::Made menu = WindowMenu::make(window, SyncStrings::application(), QLocale(QLocale::English),
                                                   false, [&] { ++settingsOpened; }, [&] { ++quits; });
    EXPECT_FALSE(menu.settings->isEnabled());
    menu.settings->trigger();
    EXPECT_EQ(settingsOpened, 0);
    EXPECT_EQ(menu.quit->shortcut(), QKeySequence(QKeySequence::Quit));
    menu.quit->trigger();
    EXPECT_EQ(quits, 1);
}

// A problem that does not stop the start (the instance check refused its
// folder) reaches the user as the other start-up failures do: after the
// model's own error, or after the reason there is no runtime. Without a
// runtime the updater never starts.
TEST(Entry, aStartupWarningIsShownWithTheModelsErrorOrTheStartupError) {
    test::TemporaryFolder home;
    test::ScopedEnvironment environment;
    environment.unset("KELTO_SYNC_RENDER_TESTS");
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(home.path().string()));
    QSettings settings(QString::fromStdString((home.path() / "settings.ini").string()), QSettings::IniFormat);
    SilentNotifications notifications;
    test::FakeSystemEvents systemEvents;
    test::FakeVolumeEvents volumeEvents;
    std::filesystem::create_directories(home.path() / "support");
    std::ofstream(home.path() / "support/jobs.json") << R"({"version":2,"jobs":[]})";
    const QString warning = QStringLiteral("Kelto Sync runs without its check for a second instance: reasons.");
    const std::filesystem::path empty = home.path() / "Empty.app";
    std::filesystem::create_directories(empty / "Contents");
    for (const std::filesystem::path& bundle : {std::filesystem::path(KELTO_BUNDLE_DIR), empty}) {
        KeltoSyncApp app({
            .bundleRoot = bundle,
            .folders = {.support = home.path() / "support", .logs = home.path() / "logs", .runtime = home.path() / "run"},
            .defaults = &settings,
            .notifications = &notifications,
            .systemEvents = &systemEvents,
            .volumeEvents = &volumeEvents,
            .launchedAsLoginItem = false,
            .startupWarning = warning,
        });
        ASSERT_EQ(app.runtime() != nullptr, bundle != empty) << app.startupError().toStdString();
        if (app.runtime() != nullptr) {
            EXPECT_EQ(app.runtime()->model().errorMessage(),
                      std::string(JobStoreError::unsupportedVersion(2).what()) + "\n\n" + warning.toStdString());
            continue;
        }
        EXPECT_TRUE(app.startupError().endsWith(QStringLiteral("\n\n") + warning)) << app.startupError().toStdString();
        EXPECT_NE(app.startupError(), QStringLiteral("\n\n") + warning);
        app.start();
        EXPECT_FALSE(app.updater().started());
    }
}
