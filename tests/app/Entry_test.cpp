#include <QAction>
#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QStringDecoder>
#include <QTest>
#include <QWidget>

#include "Kelto_Sync/App/AppEntry.h"
#include "Kelto_Sync/App/AppRuntime.h"
#include "Kelto_Sync/App/KeltoSyncApp.h"
#include "Kelto_Sync/App/QtMainExecutor.h"
#include "Kelto_Sync/App/RunFinishedRouter.h"
#include "Kelto_Sync/App/WindowMenu.h"
#include "SyncAutomation/Async/ManualExecutor.h"
#include "SyncEngine/RsyncLocatorError.h"
#include "SyncModel/JobStoreError.h"
#include "tests/app/AppProcess.h"
#include "tests/permissions/ScopedEnvironment.h"
#include "tests/support/FakeSystemEvents.h"
#include "tests/support/FakeVolumeEvents.h"
#include "tests/support/TemporaryFolder.h"
#include "tests/views/support/FakeAppModel.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

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

namespace {

// The licence text the bundle ships holds the notice of every component it
// ships, as that component's own files word it, and reads as UTF-8.
TEST(BundledLicences, EveryShippedComponentsNoticeIsInTheLicenceText) {
    QFile file(QStringLiteral(KELTO_BUNDLE_DIR "/Contents/Resources/Licenses/COPYING"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << file.fileName().toStdString();
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder(file.readAll());
    ASSERT_FALSE(decoder.hasError());
    // Words each notice holds: the GPL (rsync), the LGPL and Qt's notices,
    // the compiled-in symbols' MIT notice, then each library's notice.
    for (const char* words : {"GNU GENERAL PUBLIC LICENSE", "GNU LESSER GENERAL PUBLIC LICENSE", "Andrew Tridgell",
                              "qtbase-everywhere-src", "qtsvg-everywhere-src", "Copyright (c) 2020-2026 Paweł Kuna",
                              "Unicode, Inc.", "Niels Lohmann", "Public Software Group", "util-linux", "Frank Denis",
                              "Victor Zverovich", "Howard Hinnant", "D. Richard Hipp"}) {
        EXPECT_TRUE(text.contains(QString::fromUtf8(words))) << words;
    }
}

}  // namespace

using namespace std::chrono;

TEST(QtMainExecutor, longWaitsAreArmedInStepsAnIntCanHold) {
    EXPECT_EQ(QtMainExecutor::nextStep(hours(24 * 365)), QtMainExecutor::longestStep);
    EXPECT_LE(QtMainExecutor::longestStep.count(), std::numeric_limits<int>::max());
    EXPECT_EQ(QtMainExecutor::nextStep(microseconds(1500)), milliseconds(2));  // never early
    EXPECT_EQ(QtMainExecutor::nextStep(-seconds(1)), milliseconds(0));
}

TEST(QtMainExecutor, postedWorkRunsInOrderOnTheLoopFromAnyThread) {
    QtMainExecutor main;
    std::vector<int> order;
    bool current = false;
    main.post([&] { order.push_back(1); });
    std::thread other([&] { main.post([&] { order.push_back(2), current = main.isCurrent(); }); });
    other.join();
    ASSERT_TRUE(QTest::qWaitFor([&] { return order.size() == 2; }));
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    EXPECT_TRUE(current);
}

TEST(QtMainExecutor, cancelledWorkNeverRunsAndCancellingFromInsideIsSafe) {
    QtMainExecutor main;
    bool cancelledRan = false, laterRan = false;
    DelayedWork cancelled = main.postAfter(0, [&] { cancelledRan = true; });
    cancelled.cancel();
    DelayedWork self;
    bool selfRan = false;
    self = main.postAfter(0.001, [&] {
        self.cancel();  // drops only what is left: nothing
        selfRan = true;
    });
    DelayedWork later = main.postAfter(std::nan(""), [&] { laterRan = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return selfRan && laterRan; }));
    QCoreApplication::processEvents();
    EXPECT_FALSE(cancelledRan);
    // A long wait is pending, not run, and its handle drops it.
    bool yearRan = false;
    { DelayedWork year = main.postAfter(365.0 * 86400, [&] { yearRan = true; }); }
    QCoreApplication::processEvents();
    EXPECT_FALSE(yearRan);
}

using ::testing::ElementsAre;

namespace {

struct RecordingNotices final : RunNotices {
    std::vector<std::string> posts;
    std::function<void()> onReview;
    void notifySuccess(const RunRecord&, const std::string& name) override { posts.push_back("success " + name); }
    void notifyProblem(const RunRecord&, const std::string& name) override { posts.push_back("problem " + name); }
    void notifyReviewNeeded(const Uuid&, const std::string& name, const std::string& detail) override {
        posts.push_back("review " + name + ": " + detail);
    }
    void askToSync(const SyncJob& job) override { posts.push_back("ask " + job.name); }
    void withdrawAsk(const Uuid&) override {}
};

struct Routing : ::testing::Test {
    FakeAppModel model;
    RecordingNotices notices;
    SyncJob job = SyncJob::newJob("Photos");
    std::vector<std::string> opened;  // with whether the request was set by then

    Routing() { model.setJobs({job}); }

    void route(RunOutcome outcome, RunTrigger trigger) {
        RunRecord record;
        record.jobID = job.id;
        record.trigger = trigger;
        record.outcome = std::move(outcome);
        RunFinishedRouter::route(record, &model, notices, [&](const Uuid& id) {
            opened.push_back(id == job.id && model.requestedJobID() == id ? "requested" : "open");
        });
    }
};

}  // namespace

TEST_F(Routing, eachOutcomeManualAndAutomatic) {
    for (RunTrigger trigger : {RunTrigger::manual, RunTrigger::schedule}) {
        for (RunOutcome outcome : {RunOutcome::success(), RunOutcome::completedWithWarnings(),
                                   RunOutcome::completedWithErrors(), RunOutcome::failed("disk full"),
                                   RunOutcome::cancelled(), RunOutcome::interrupted()})
            route(outcome, trigger);
    }
    EXPECT_THAT(notices.posts, ElementsAre("success Photos", "problem Photos", "problem Photos", "problem Photos",
                                           "success Photos", "problem Photos", "problem Photos", "problem Photos"));
    EXPECT_TRUE(opened.empty());
}

// Only a manual run opens the job; only a review sets the request first.
TEST_F(Routing, skipsAndReviewsOpenTheJobOnlyWhenManual) {
    route(RunOutcome::skipped(SkipReason::deviceNotConnected), RunTrigger::connect);
    route(RunOutcome::skipped(SkipReason::deviceNotConnected), RunTrigger::manual);
    EXPECT_THAT(opened, ElementsAre("open"));
    EXPECT_TRUE(notices.posts.empty());
    route(RunOutcome::needsReview("12 deletions"), RunTrigger::schedule);
    EXPECT_FALSE(model.requestedJobID());
    route(RunOutcome::needsReview("12 deletions"), RunTrigger::manual);
    EXPECT_THAT(opened, ElementsAre("open", "requested"));
    EXPECT_THAT(notices.posts, ElementsAre("review Photos: 12 deletions", "review Photos: 12 deletions"));
}

TEST_F(Routing, aDeletedJobOrAGoneModelPostsNothing) {
    model.setJobs({});
    route(RunOutcome::failed("x"), RunTrigger::manual);
    route(RunOutcome::needsReview("x"), RunTrigger::manual);
    RunFinishedRouter::route(RunRecord{}, nullptr, notices, [&](const Uuid&) { opened.push_back("open"); });
    EXPECT_TRUE(notices.posts.empty());
    EXPECT_TRUE(opened.empty());
}

TEST(AppRuntime, unmountsAreForwardedWithNoWindowAndMountsAreNot) {
    ManualClock clock{Date::fromUnix(1'772'373'909)};
    ManualExecutor main{clock};
    test::FakeVolumeEvents events;
    std::vector<std::filesystem::path> unmounted;
    Subscription forwarding = AppRuntime::forwardUnmounts(
        events, main, [&](const std::filesystem::path& volume) { unmounted.push_back(volume); });
    events.send(VolumeEvent::mounted("/media/a"));
    events.send(VolumeEvent::unmounted("/media/b"));
    main.runPending();
    EXPECT_THAT(unmounted, ElementsAre("/media/b"));
}

TEST(AppRuntime, aBundleWithoutAnExecutableRsyncFailsNamingThePath) {
    test::TemporaryFolder bundle;
    std::filesystem::create_directories(bundle / "Contents/Helpers");
    std::ofstream(bundle / "Contents/Helpers/rsync") << "#!/bin/sh\n";  // not executable
    ManualClock clock{Date::fromUnix(1'772'373'909)};
    ManualExecutor main{clock};
    RecordingNotices notices;
    try {
        AppRuntime runtime({.bundleRoot = bundle.path(), .folders = {bundle / "s", bundle / "l", bundle / "r"},
                            .main = main, .notices = notices, .openJob = {},
                            .systemEvents = nullptr, .volumeEvents = nullptr, .sleepInhibitor = nullptr,
                            .ejector = nullptr});
        FAIL() << "started without rsync";
    } catch (const RsyncLocatorError& error) {
        EXPECT_EQ(error.path(), bundle / "Contents/Helpers/rsync");
        EXPECT_NE(std::string(error.what()).find((bundle / "Contents/Helpers/rsync").string()), std::string::npos);
    }
    EXPECT_FALSE(std::filesystem::exists(bundle / "s"));  // nothing written
}
