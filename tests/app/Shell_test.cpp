#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QLocalServer>
#include <QLockFile>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QStringDecoder>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include "KeltoPermissions/AppRelauncher.h"
#include "KeltoPermissions/PermissionChecklistView.h"
#include "Kelto_Sync/App/AppRuntime.h"
#include "Kelto_Sync/App/QtMainExecutor.h"
#include "Kelto_Sync/App/QuitController.h"
#include "Kelto_Sync/App/RunFinishedRouter.h"
#include "Kelto_Sync/App/SingleInstance.h"
#include "Kelto_Sync/App/SyncMenuLifecycle.h"
#include "Kelto_Sync/App/SyncSetup.h"
#include "Kelto_Sync/App/WindowPresence.h"
#include "Kelto_Sync/AppEvents.h"
#include "SyncAutomation/Async/ManualExecutor.h"
#include "SyncEngine/RsyncLocatorError.h"
#include "tests/permissions/checklist/FakePermission.h"
#include "tests/support/FakeVolumeEvents.h"
#include "tests/support/TemporaryFolder.h"
#include "tests/views/support/FakeAppModel.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

using namespace kelto;
namespace fs = std::filesystem;
namespace {

// Items whose probes answer when the test says, an opener that counts, no relauncher, no companion.
struct SetupRig {
    std::shared_ptr<test::FakeProbe> probe = std::make_shared<test::FakeProbe>();
    int opens = 0;
    AppRelauncher relauncher{[] {}, [] {}};
    SyncSetup::Dependencies dependencies() {
        const auto items = [probe = probe](QSettings&) {
            using R = PermissionRequirement;
            return std::vector{test::fakeItem(SyncSetup::fullDiskID, R::recommended, probe),
                               test::fakeItem(SyncSetup::loginID, R::recommended, probe),
                               test::fakeItem(SyncSetup::notificationsID, R::optional, probe)};
        };
        return {.strings = SyncStrings::application(), .locale = QLocale(QLocale::English), .makeItems = items,
                .openSettings = [this](const SettingsDestination&) { return ++opens, true; },
                .relauncher = &relauncher, .companion = std::nullopt, .loginItem = {}, .requestNotifications = {}};
    }
    ~SetupRig() { probe->waiting.clear(); }
};

struct Quitting : ::testing::Test {
    FakeAppModel model;
    bool modelGone = false, answer = true;
    int alerts = 0, cancelledRelaunches = 0, quits = 0;
    std::function<void()> duringAlert;  // runs while the alert is open
    QuitController::Dependencies dependencies(FakeAppModel& on) {
        return {.model = [this, &on]() -> AppModelInterface* { return modelGone ? nullptr : &on; },
                .confirmStop = [this] { return ++alerts, duringAlert ? duringAlert() : void(), answer; },
                .cancelRelaunch = [this] { ++cancelledRelaunches; },
                .quit = [this] { ++quits; }};
    }
    QuitController quit{dependencies(model)};
    SyncJob job = SyncJob::newJob("Photos");
    // Quits, alerts and stops asked of `on`.
    std::tuple<int, int, int> counts(const FakeAppModel& on) const {
        return {quits, alerts, int(on.pendingShutdowns.size())};
    }
};

TEST_F(Quitting, onlyAnActiveJobAsksASecondRequestWaitsForTheStopAndASignalAsksNothing) {
    quit.requestQuit(true);
    modelGone = true;
    model.setStatus(job.id, RunStatus::awaitingConfirmation(SyncPlan{}));
    quit.requestQuit(true);
    EXPECT_EQ(counts(model), std::tuple(2, 0, 0));
    modelGone = false;
    quit.requestQuit(true);
    EXPECT_TRUE(quit.isTerminating());
    quit.requestQuit(true);
    quit.requestQuit(false);
    ASSERT_EQ(counts(model), std::tuple(2, 1, 1)) << "no quit before shutdown() returns";
    model.answerShutdown();
    EXPECT_EQ(quits, 3);
    // SIGTERM mid-run stops without asking, then quits.
    QuitController signalled(dependencies(model));
    signalled.watchSignals();
    ::raise(SIGTERM);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model.pendingShutdowns.empty(); }));
    EXPECT_EQ(counts(model), std::tuple(3, 1, 1));
    model.answerShutdown();
    EXPECT_EQ(quits, 4);
}

// A tray Quit and a SIGTERM while the alert is open: one alert, one stop whatever it answers, no relaunch dropped.
TEST_F(Quitting, requestsWhileTheAlertIsOpenStopOnce) {
    for (bool stop : {true, false}) {
        SCOPED_TRACE(stop);
        FakeAppModel busy;
        busy.setStatus(job.id, RunStatus::queued());
        QuitController asking(dependencies(busy));
        alerts = quits = 0;
        answer = stop;
        duringAlert = [&, fired = false]() mutable {
            if (std::exchange(fired, true)) return;
            asking.requestQuit(true);
            asking.requestQuit(false);
        };
        asking.requestQuit(true);
        asking.requestQuit(true);
        ASSERT_EQ(counts(busy), std::tuple(0, 1, 1));
        EXPECT_EQ(cancelledRelaunches, 0);
        busy.answerShutdown();
        EXPECT_EQ(quits, 1);
    }
}

// A person's quit waits for the drafts to be left; staying drops a relaunch. A signal asks nothing.
TEST_F(Quitting, aPersonsQuitLeavesTheDraftsFirst) {
    std::function<void()> proceed, stay;
    QuitController::Dependencies withDrafts = dependencies(model);
    withDrafts.leaveDrafts = [&](std::function<void()> left, std::function<void()> kept) { proceed = left, stay = kept; };
    QuitController leaving(withDrafts);
    leaving.requestQuit(true);
    EXPECT_EQ(quits, 0);
    stay();
    EXPECT_EQ(cancelledRelaunches, 1);
    leaving.requestQuit(true);
    proceed();
    EXPECT_EQ(quits, 1);
    proceed = nullptr;
    leaving.requestQuit(false);
    EXPECT_FALSE(proceed);
    EXPECT_EQ(quits, 2);
}

// The relauncher asks the application to quit; that request keeps the rules.
TEST(QuitRequests, aRestartMidRunAsksAndCancelDropsTheRelaunch) {
    FakeAppModel model;
    model.setStatus(SyncJob::newJob("Photos").id, RunStatus::queued());
    int alerts = 0;
    bool answer = false;
    AppRelauncher relauncher([] { QCoreApplication::quit(); }, [] {});
    QuitController quit({
        .model = [&]() -> AppModelInterface* { return &model; },
        .confirmStop = [&] { return ++alerts, answer; },
        .cancelRelaunch = [&] { relauncher.cancelRelaunch(); },
        .quit = [] { QCoreApplication::exit(0); },
    });
    quit.watchApplication(*QCoreApplication::instance(), [] {});
    QWidget window;
    window.show();
    // A quit request acts only inside exec(); each round ends the loop itself.
    QTimer::singleShot(0, [&] {
        relauncher.requestRelaunch();
        if (!quit.isTerminating()) QCoreApplication::exit(1);
    });
    EXPECT_EQ(QCoreApplication::exec(), 1);
    EXPECT_EQ(alerts, 1);
    EXPECT_EQ(relauncher.state(), AppRelauncher::State::idle);
    EXPECT_TRUE(model.pendingShutdowns.empty());
    EXPECT_TRUE(window.isVisible());
    answer = true;
    QTimer::singleShot(0, [&] {
        relauncher.requestRelaunch();
        if (model.pendingShutdowns.empty()) return QCoreApplication::exit(2);
        model.answerShutdown();
    });
    EXPECT_EQ(QCoreApplication::exec(), 0);
    EXPECT_EQ(alerts, 2);
    EXPECT_EQ(relauncher.state(), AppRelauncher::State::requested) << "launched as the application ends";
}

// Ctrl+Q quits from every window and focus; a window whose own action holds the keys quits through it alone.
TEST_F(Quitting, ctrlQQuitsFromEveryWindow) {
    quit.watchApplication(*QCoreApplication::instance(), [] {});
    QWidget settings, plain, withMenu;
    auto* field = new QLineEdit(&settings);
    int menuQuits = 0;
    auto* action = new QAction(&withMenu);
    action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    QObject::connect(action, &QAction::triggered, [&] { ++menuQuits; });
    withMenu.addAction(action);
    int expected = 0;
    for (QWidget* window : {&settings, &plain, &withMenu}) {
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
        if (window == &settings) field->setFocus();
        QWidget* target = QApplication::focusWidget() != nullptr ? QApplication::focusWidget() : window;
        QTest::keyClick(target, Qt::Key_Q, Qt::ControlModifier);
        if (window != &withMenu) ++expected;
        EXPECT_EQ(quits, expected) << window;
        QTest::keyClick(target, Qt::Key_W, Qt::ControlModifier);
        EXPECT_EQ(quits, expected) << "other keys pass";
        window->hide();
    }
    EXPECT_EQ(menuQuits, 1);
    QCoreApplication::instance()->removeEventFilter(&quit);
}

struct CountingWindows final : MainWindowOpening {
    int opened = 0;
    void openMainWindow() override { ++opened; }
};

struct Launching : ::testing::Test {
    test::TemporaryFolder folder;
    QSettings defaults{QString::fromStdString((folder / "defaults.ini").string()), QSettings::IniFormat};
    FakeAppModel model;
    CountingWindows windows;
    SetupRig rig;
    SyncSetup setup{defaults, rig.dependencies()};
};

// Each launch acts once however often it is handled.
TEST_F(Launching, theLaunchMatrix) {
    struct Row {
        const char* state;
        std::vector<std::pair<const char*, QVariant>> stored;
        bool loginItem, withModel;
        int opened;
        bool gated;
    };
    const std::vector<Row> rows{
        {"first launch", {}, false, true, 1, true},
        {"login item before onboarding", {}, true, true, 1, true},
        {"login item after onboarding", {{"onboarding.done", true}}, true, true, 0, false},
        {"after onboarding", {{"onboarding.done", true}}, false, true, 1, false},
        {"checklist unfinished", {{"onboarding.done", true}, {"setup.checklist.inProgress", true}}, true, true, 1, true},
        {"version 1, onboarding not done", {{"setup.checklist.version", 1}}, true, true, 1, false},
        {"no model", {}, false, false, 1, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.state);
        defaults.clear();
        for (const auto& [key, value] : row.stored) defaults.setValue(key, value);
        setup.setGatePending(false);
        SyncMenuLifecycle lifecycle(row.withModel ? &model : nullptr, row.withModel ? &setup : nullptr, defaults,
                                    windows, row.loginItem);
        lifecycle.handleInitialLaunch();
        lifecycle.handleInitialLaunch();
        EXPECT_EQ(std::exchange(windows.opened, 0), row.opened);
        EXPECT_EQ(setup.isGatePending(), row.gated);
    }
    EXPECT_TRUE(SyncMenuLifecycle::isLoginItemLaunch({"kelto-sync", "--login-item"}));
    EXPECT_FALSE(SyncMenuLifecycle::isLoginItemLaunch({"--login-item"}));
    // Opening a job sets the request, or clears it for what names no job, and opens the window.
    SyncMenuLifecycle lifecycle(&model, &setup, defaults, windows, false);
    const Uuid id = Uuid::random();
    AppEvents::shared().postOpenJob(QString::fromStdString(id.string()));
    EXPECT_EQ(model.requestedJobID(), id);
    AppEvents::shared().postOpenJob(QStringLiteral("not a job"));
    EXPECT_FALSE(model.requestedJobID());
    AppEvents::shared().postOpenMainWindow();
    EXPECT_EQ(windows.opened, 3);
}

TEST(WindowPresence, followsItsOwnVisibleUnminimisedWindowsOnly) {
    WindowPresence presence;
    QWidget stranger, main, settings;
    stranger.show();
    presence.update();
    EXPECT_FALSE(presence.isRegular());
    EXPECT_TRUE(presence.registerWindow(&main));
    EXPECT_FALSE(presence.registerWindow(&main));
    const auto becomes = [&](bool regular) { return QTest::qWaitFor([&] { return presence.isRegular() == regular; }); };
    main.show();
    ASSERT_TRUE(becomes(true));
    presence.registerWindow(&settings);
    main.showMinimized();
    ASSERT_TRUE(becomes(false));
    settings.show();
    ASSERT_TRUE(becomes(true));
    settings.close();
    ASSERT_TRUE(becomes(false));
}

// Turned away when something not a socket lies where the socket goes; the first keeps the lock.
TEST(SingleInstance, aSecondClaimForwardsReopenOrIsTurnedAway) {
    for (const bool reachable : {true, false}) {
        test::TemporaryFolder folder;
        const QString runtime = QString::fromStdString(folder.path().string());
        if (!reachable) {
            ASSERT_TRUE(QDir().mkpath(runtime + QStringLiteral("/kelto-sync.socket")));
        }
        SingleInstance first(runtime);
        ASSERT_EQ(first.claim(), SingleInstance::Claim::primary);
        QSignalSpy reopened(&first, &SingleInstance::reopenRequested);
        std::atomic<int> second{-1};  // in a thread of its own: the first answers on this loop
        std::thread launch([&] { second = static_cast<int>(SingleInstance(runtime).claim(std::chrono::milliseconds(reachable ? 5000 : 300))); });
        EXPECT_EQ(QTest::qWaitFor([&] { return reopened.count() == 1; }, reachable ? 10000 : 100), reachable);
        launch.join();
        EXPECT_EQ(second, static_cast<int>(reachable ? SingleInstance::Claim::forwarded : SingleInstance::Claim::unreachable));
    }
    EXPECT_EQ(SingleInstance::relaunchAfter({"kelto-sync", "--relaunch-after", "42"}), 42);
    EXPECT_EQ(SingleInstance::relaunchAfter({"kelto-sync"}), 0);
}

// Made private whatever the umask, or refused and left as it was. Another user's lock and socket in a folder once
// open to them are refused too: taken as ours, a launch would send them "reopen".
TEST(SingleInstance, aSharedRuntimeFolderIsMadePrivateAndOneNotTheUsersAloneIsRefused) {
    test::TemporaryFolder tmp;
    const fs::perms open = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                           fs::perms::others_read | fs::perms::others_exec;
    const auto folder = [&](const char* name, fs::perms perms) { fs::create_directory(tmp / name), fs::permissions(tmp / name, perms); };
    struct Row {
        const char *name, *looked;
        std::function<void()> make;
        SingleInstance::Claim claim;
        std::optional<fs::perms> after;
        const char* says = nullptr;  // in the refusal, else the folder's path
    };
    QLockFile planted(QString::fromStdString((tmp / "items/kelto-sync.lock").string()));
    QLocalServer listener;
    const auto plant = [&] {
        folder("items", fs::perms::all);
        ASSERT_TRUE(planted.tryLock(0));
        ASSERT_TRUE(listener.listen(QString::fromStdString((tmp / "items/kelto-sync.socket").string())));
        for (const char* name : {"kelto-sync.lock", "kelto-sync.socket"})
            ASSERT_EQ(::lchown((tmp / "items" / name).c_str(), 4321, 4321), 0);
    };
    const Row rows[] = {
        {"made", "made", [] {}, SingleInstance::Claim::primary, fs::perms::owner_all},
        {"open", "open", [&] { folder("open", open); }, SingleInstance::Claim::primary, fs::perms::owner_all},
        {"link", "target", [&] { folder("target", open), fs::create_directory_symlink(tmp / "target", tmp / "link"); },
         SingleInstance::Claim::refused, open},
        {"file", "file", [&] { std::ofstream(tmp / "file") << "not a folder"; }, SingleInstance::Claim::refused, {}},
        {"foreign", "foreign", [&] { folder("foreign", fs::perms::owner_all), (void)::chown((tmp / "foreign").c_str(), 4321, 4321); },
         SingleInstance::Claim::refused, fs::perms::owner_all},
        {"items", "items", plant, SingleInstance::Claim::refused, fs::perms::owner_all, "user 4321"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        if ((row.name == std::string("foreign") || row.says) && ::geteuid() != 0) continue;  // needs root to chown
        row.make();
        const ::mode_t umask = ::umask(0);
        SingleInstance instance(QString::fromStdString((tmp / row.name).string()), true);
        const SingleInstance::Claim claim = instance.claim(std::chrono::milliseconds(300));
        ::umask(umask);
        EXPECT_EQ(claim, row.claim);
        if (claim == SingleInstance::Claim::refused) {
            const QString says = row.says ? QString::fromLatin1(row.says) : QString::fromStdString((tmp / row.name).string());
            EXPECT_TRUE(instance.refusal().contains(says)) << instance.refusal().toStdString();
            EXPECT_TRUE(!row.after || row.says || fs::is_empty(tmp / row.looked));
        }
        EXPECT_EQ(row.after ? std::optional(fs::status(tmp / row.looked).permissions()) : std::nullopt, row.after);
    }
}

struct Setup : Launching {
    QWidget main;
    PermissionChecklistView* view() const {
        return setup.controller() ? setup.controller()->window()->findChild<PermissionChecklistView*>() : nullptr;
    }
};

// The notification item asks once, does not open settings after, and switches notifications on even if refused.
TEST_F(Setup, theNotificationItemAsksOnceAndSwitchesNotificationsOn) {
    SyncSetup::Dependencies dependencies = rig.dependencies();
    int requests = 0;
    dependencies.requestNotifications = [&](std::function<void()> done) { ++requests, done(); };  // refused
    const std::vector<PermissionItem> items = SyncSetup::makeItems(dependencies, defaults);
    const PermissionItem& notifications = items.at(2);
    EXPECT_EQ(notifications.id, SyncSetup::notificationsID);
    EXPECT_FALSE(notifications.opensSettingsAfterRequest || notifications.repeatsRequest);
    ASSERT_TRUE(notifications.destination && notifications.request);
    bool done = false;
    notifications.request([&] { done = true; });
    EXPECT_TRUE(done);
    EXPECT_EQ(requests, 1);
    EXPECT_TRUE(defaults.value("notifications.enabled").toBool());
}

// Attached to the main window once it is shown and active; from the run history, with no parent, on the disk item.
TEST_F(Setup, theGateWaitsForTheMainWindowAndPresentingAgainReusesTheChecklist) {
    setup.setGatePending(true);
    setup.setMainWindow(&main);
    setup.checkLaunchGate();
    EXPECT_TRUE(setup.isGatePending());  // not shown
    main.show();
    main.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&main));
    ASSERT_TRUE(QTest::qWaitFor([&] { return setup.controller() != nullptr; }));
    EXPECT_EQ(setup.presentationParent(), &main);
    QWidget* window = setup.controller()->window();
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowHandle()->transientParent(), main.windowHandle());
    EXPECT_FALSE(setup.checklist()->focusedItemID());
    EXPECT_FALSE(setup.isGatePending());
    EXPECT_TRUE(defaults.value("setup.checklist.inProgress").toBool());
    PermissionSetupController* controller = setup.controller();
    setup.present(QStringLiteral("sync.fullDisk"), nullptr);
    EXPECT_EQ(setup.controller(), controller);
    EXPECT_EQ(setup.controller()->window(), window);
    EXPECT_EQ(window->windowHandle()->transientParent(), nullptr);
    EXPECT_EQ(setup.checklist()->focusedItemID(), QStringLiteral("sync.fullDisk"));
}

// Later and closing finish as later (onboarding done, no version); Done stores the version.
TEST_F(Setup, laterDoneAndClosingFinishAndDropTheChecklist) {
    for (const char* way : {"later", "close", "done"}) {
        SCOPED_TRACE(way);
        setup.present(std::nullopt, &main);
        ASSERT_NE(setup.controller(), nullptr);
        EXPECT_TRUE(SyncSetup::needsGate(defaults)) << "in progress";
        QPointer<QWidget> window = setup.controller()->window();
        if (way == std::string("later")) view()->laterButton()->click();
        if (way == std::string("close")) window->close();
        if (way == std::string("done")) {
            ASSERT_TRUE(view()->doneButton()->isEnabled());  // nothing required
            view()->doneButton()->click();
        }
        EXPECT_EQ(setup.controller(), nullptr);
        EXPECT_EQ(setup.presentationParent(), nullptr);
        EXPECT_TRUE(defaults.value("onboarding.done").toBool());
        EXPECT_FALSE(defaults.value("setup.checklist.inProgress").toBool());
        EXPECT_EQ(defaults.value("setup.checklist.version").toInt(), way == std::string("done") ? 1 : 0);
        EXPECT_FALSE(SyncSetup::needsGate(defaults));
        EXPECT_TRUE(QTest::qWaitFor([&] { return window.isNull(); })) << "gone on the next turn";
    }
}

TEST(BundledLicences, EveryShippedComponentsNoticeIsInTheLicenceText) {
    QFile file(QStringLiteral(KELTO_BUNDLE_DIR "/Contents/Resources/Licenses/COPYING"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << file.fileName().toStdString();
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder(file.readAll());
    ASSERT_FALSE(decoder.hasError());
    for (const char* words : {"GNU GENERAL PUBLIC LICENSE", "GNU LESSER GENERAL PUBLIC LICENSE", "Andrew Tridgell",
                              "qtbase-everywhere-src", "qtsvg-everywhere-src", "Copyright (c) 2020-2026 Paweł Kuna",
                              "Unicode, Inc.", "Niels Lohmann", "Public Software Group", "util-linux", "Frank Denis",
                              "Victor Zverovich", "Howard Hinnant", "D. Richard Hipp"})
        EXPECT_TRUE(text.contains(QString::fromUtf8(words))) << words;
}

using namespace std::chrono;

// Posted work runs in order on the loop from any thread; cancelled work never runs, even cancelled from inside;
// long waits are armed in steps an int can hold, never early.
TEST(QtMainExecutor, postedWorkRunsInOrderAndCancelledWorkNever) {
    EXPECT_EQ(QtMainExecutor::nextStep(hours(24 * 365)), QtMainExecutor::longestStep);
    EXPECT_EQ(QtMainExecutor::nextStep(microseconds(1500)), milliseconds(2));
    EXPECT_EQ(QtMainExecutor::nextStep(-seconds(1)), milliseconds(0));
    QtMainExecutor main;
    std::vector<int> order;
    bool current = false, cancelledRan = false, selfRan = false, laterRan = false, yearRan = false;
    main.post([&] { order.push_back(1); });
    std::thread([&] { main.post([&] { order.push_back(2), current = main.isCurrent(); }); }).join();
    DelayedWork cancelled = main.postAfter(0, [&] { cancelledRan = true; }), self;
    cancelled.cancel();
    self = main.postAfter(0.001, [&] { self.cancel(), selfRan = true; });
    DelayedWork later = main.postAfter(std::nan(""), [&] { laterRan = true; });
    { DelayedWork year = main.postAfter(365.0 * 86400, [&] { yearRan = true; }); }
    ASSERT_TRUE(QTest::qWaitFor([&] { return order.size() == 2 && selfRan && laterRan; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    EXPECT_TRUE(current);
    EXPECT_FALSE(cancelledRan || yearRan);
}

using ::testing::ElementsAre;

struct RecordingNotices final : RunNotices {
    std::vector<std::string> posts;
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

// A review sets the request before opening; a deleted job or a gone model posts nothing.
TEST_F(Routing, eachOutcomePostsAndOnlyAManualSkipOrReviewOpensTheJob) {
    using T = RunTrigger;
    struct Row { RunOutcome outcome; RunTrigger trigger; const char *post, *open; };
    std::vector<Row> rows{
        {RunOutcome::skipped(SkipReason::deviceNotConnected), T::connect, "", ""},
        {RunOutcome::skipped(SkipReason::deviceNotConnected), T::manual, "", "open"},
        {RunOutcome::needsReview("12 deletions"), T::schedule, "review Photos: 12 deletions", ""},
        {RunOutcome::needsReview("12 deletions"), T::manual, "review Photos: 12 deletions", "requested"},
    };
    for (const T trigger : {T::manual, T::schedule})
        for (const auto& [outcome, post] : {std::pair{RunOutcome::success(), "success Photos"},
                                            std::pair{RunOutcome::completedWithWarnings(), ""},
                                            std::pair{RunOutcome::completedWithErrors(), "problem Photos"},
                                            std::pair{RunOutcome::failed("disk full"), "problem Photos"},
                                            std::pair{RunOutcome::cancelled(), ""},
                                            std::pair{RunOutcome::interrupted(), "problem Photos"}})
            rows.push_back({outcome, trigger, post, ""});
    for (const auto& row : rows) {
        SCOPED_TRACE(row.post + std::string("/") + row.open);
        notices.posts.clear(), opened.clear(), model.setRequestedJobID(std::nullopt);
        route(row.outcome, row.trigger);
        EXPECT_EQ(notices.posts, (*row.post ? std::vector<std::string>{row.post} : std::vector<std::string>{}));
        EXPECT_EQ(opened, (*row.open ? std::vector<std::string>{row.open} : std::vector<std::string>{}));
        EXPECT_EQ(model.requestedJobID().has_value(), row.open == std::string("requested"));
    }
    notices.posts.clear(), opened.clear();
    model.setJobs({});
    route(RunOutcome::failed("x"), RunTrigger::manual);
    route(RunOutcome::needsReview("x"), RunTrigger::manual);
    RunFinishedRouter::route(RunRecord{}, nullptr, notices, [&](const Uuid&) { opened.push_back("open"); });
    EXPECT_TRUE(notices.posts.empty() && opened.empty());
}

TEST(AppRuntime, unmountsAreForwardedAndABundleWithoutAnExecutableRsyncFailsNamingThePath) {
    ManualClock clock{Date::fromUnix(1'772'373'909)};
    ManualExecutor main{clock};
    test::FakeVolumeEvents events;
    std::vector<fs::path> unmounted;
    Subscription forwarding =
        AppRuntime::forwardUnmounts(events, main, [&](const fs::path& volume) { unmounted.push_back(volume); });
    events.send(VolumeEvent::mounted("/media/a"));
    events.send(VolumeEvent::unmounted("/media/b"));
    main.runPending();
    EXPECT_THAT(unmounted, ElementsAre("/media/b"));
    test::TemporaryFolder bundle;
    fs::create_directories(bundle / "Contents/Helpers");
    std::ofstream(bundle / "Contents/Helpers/rsync") << "#!/bin/sh\n";  // not executable
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
    EXPECT_FALSE(fs::exists(bundle / "s"));  // nothing written
}

}  // namespace
