#include <QAction>
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QLocalServer>
#include <QLockFile>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include "KeltoPermissions/AppRelauncher.h"
#include "KeltoPermissions/PermissionChecklistView.h"
#include "Kelto_Sync/App/QuitController.h"
#include "Kelto_Sync/App/SingleInstance.h"
#include "Kelto_Sync/App/SyncMenuLifecycle.h"
#include "Kelto_Sync/App/SyncSetup.h"
#include "Kelto_Sync/App/WindowPresence.h"
#include "Kelto_Sync/AppEvents.h"
#include "tests/app/SetupRig.h"
#include "tests/support/TemporaryFolder.h"
#include "tests/views/support/FakeAppModel.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

using namespace kelto;
namespace fs = std::filesystem;

namespace {

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
};

}  // namespace

TEST_F(Quitting, onlyAnActiveJobAsksAndASecondRequestWaitsForTheStop) {
    quit.requestQuit(true);
    modelGone = true;
    model.setStatus(job.id, RunStatus::awaitingConfirmation(SyncPlan{}));
    quit.requestQuit(true);
    EXPECT_EQ(quits, 2);
    EXPECT_EQ(alerts, 0);
    EXPECT_TRUE(model.pendingShutdowns.empty());

    modelGone = false;
    quit.requestQuit(true);
    EXPECT_EQ(alerts, 1);
    EXPECT_TRUE(quit.isTerminating());
    quit.requestQuit(true);
    quit.requestQuit(false);
    EXPECT_EQ(alerts, 1);
    ASSERT_EQ(model.pendingShutdowns.size(), 1u);
    EXPECT_EQ(quits, 2);  // not before shutdown() returns
    model.answerShutdown();
    EXPECT_EQ(quits, 3);
}

TEST_F(Quitting, cancelDropsARelaunchAndKeepsRunning) {
    model.setStatus(job.id, RunStatus::queued());
    answer = false;
    quit.requestQuit(true);
    EXPECT_EQ(cancelledRelaunches, 1);
    EXPECT_FALSE(quit.isTerminating());
    EXPECT_EQ(quits, 0);
}

// A tray Quit and a SIGTERM while the alert is open: one alert, one stop,
// whatever the alert answers, and no relaunch dropped.
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
        EXPECT_EQ(alerts, 1);
        ASSERT_EQ(busy.pendingShutdowns.size(), 1u);
        EXPECT_EQ(cancelledRelaunches, 0);
        busy.answerShutdown();
        EXPECT_EQ(quits, 1);
    }
}

// A person's quit waits for the open drafts to be left; staying with one
// keeps the application and drops a relaunch. A signal asks nothing.
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

// Ctrl+Q quits from every window, whatever has the focus in it; a window
// whose own action holds the keys quits through that action alone.
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

TEST_F(Quitting, sigtermMidRunStopsWithoutAskingThenQuits) {
    model.setStatus(job.id, RunStatus::queued());
    quit.watchSignals();
    ::raise(SIGTERM);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model.pendingShutdowns.empty(); }));
    EXPECT_EQ(alerts, 0);
    model.answerShutdown();
    EXPECT_EQ(quits, 1);
}

namespace {

struct CountingWindows final : MainWindowOpening {
    int opened = 0;
    void openMainWindow() override { ++opened; }
};

struct Launching : ::testing::Test {
    test::TemporaryFolder folder;
    QSettings defaults{QString::fromStdString((folder / "defaults.ini").string()), QSettings::IniFormat};
    FakeAppModel model;
    CountingWindows windows;
    test::SetupRig rig;
    SyncSetup setup{defaults, rig.dependencies()};
};

}  // namespace

// Whether the main window opens and the setup gates, per stored state and
// launch kind; each launch acts once however often it is handled.
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
}

TEST_F(Launching, theGateWaitsUntilTheMainWindowIsShownAndActive) {
    setup.setGatePending(true);
    QWidget window;
    setup.setMainWindow(&window);
    setup.checkLaunchGate();
    EXPECT_TRUE(setup.isGatePending());  // not shown
    window.show();
    setup.checkLaunchGate();
    if (!window.isActiveWindow()) {
        EXPECT_TRUE(setup.isGatePending());
    }
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    ASSERT_TRUE(QTest::qWaitFor([&] { return setup.controller() != nullptr; }));
    EXPECT_EQ(setup.presentationParent(), &window);
    EXPECT_EQ(setup.controller()->window()->windowHandle()->transientParent(), window.windowHandle());
    EXPECT_FALSE(setup.checklist()->focusedItemID());
    EXPECT_FALSE(setup.isGatePending());
    EXPECT_TRUE(defaults.value("setup.checklist.inProgress").toBool());
}

TEST_F(Launching, openJobSetsOrClearsTheRequestAndOpens) {
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

TEST(SingleInstance, aSecondClaimForwardsReopen) {
    test::TemporaryFolder folder;
    const QString runtime = QString::fromStdString(folder.path().string());
    SingleInstance first(runtime);
    ASSERT_EQ(first.claim(), SingleInstance::Claim::primary);
    QSignalSpy reopened(&first, &SingleInstance::reopenRequested);
    // The second runs in a thread of its own: the first answers on this loop.
    std::atomic<int> second{-1};
    std::thread launch([&] { second = static_cast<int>(SingleInstance(runtime).claim(std::chrono::seconds(5))); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return reopened.count() == 1; }, 10000));
    launch.join();
    EXPECT_EQ(second, static_cast<int>(SingleInstance::Claim::forwarded));
    EXPECT_EQ(SingleInstance::relaunchAfter({"kelto-sync", "--relaunch-after", "42"}), 42);
    EXPECT_EQ(SingleInstance::relaunchAfter({"kelto-sync"}), 0);
}

TEST(SingleInstance, aHolderThatCannotBeReachedKeepsTheLockAndTurnsLaterLaunchesAway) {
    test::TemporaryFolder folder;
    const QString runtime = QString::fromStdString(folder.path().string());
    // Something that is not a socket sits where the socket goes.
    ASSERT_TRUE(QDir().mkpath(runtime + QStringLiteral("/kelto-sync.socket")));
    SingleInstance first(runtime);
    EXPECT_EQ(first.claim(), SingleInstance::Claim::primary);
    EXPECT_EQ(SingleInstance(runtime).claim(std::chrono::milliseconds(300)), SingleInstance::Claim::unreachable);
}

// A folder the instance makes is private whatever the umask; one of the
// user's own that others may enter (as earlier versions made it) is made
// private; a link, a file or another user's folder is refused and left as
// it was.
TEST(SingleInstance, aSharedRuntimeFolderIsMadePrivateAndOneNotTheUsersAloneIsRefused) {
    test::TemporaryFolder tmp;
    const auto claimIn = [](const fs::path& folder) {
        SingleInstance instance(QString::fromStdString(folder.string()), true);
        const SingleInstance::Claim claim = instance.claim(std::chrono::milliseconds(300));
        if (claim == SingleInstance::Claim::refused) {
            EXPECT_TRUE(instance.refusal().contains(QString::fromStdString(folder.string())))
                << instance.refusal().toStdString();
        }
        return claim;
    };
    const ::mode_t umask = ::umask(0);
    EXPECT_EQ(claimIn(tmp / "made"), SingleInstance::Claim::primary);
    ::umask(umask);
    EXPECT_EQ(fs::status(tmp / "made").permissions(), fs::perms::owner_all);

    const fs::perms open = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                           fs::perms::others_read | fs::perms::others_exec;
    fs::create_directory(tmp / "open");
    fs::permissions(tmp / "open", open);
    EXPECT_EQ(claimIn(tmp / "open"), SingleInstance::Claim::primary);
    EXPECT_EQ(fs::status(tmp / "open").permissions(), fs::perms::owner_all);
    fs::create_directory(tmp / "target");
    fs::permissions(tmp / "target", open);
    fs::create_directory_symlink(tmp / "target", tmp / "link");
    EXPECT_EQ(claimIn(tmp / "link"), SingleInstance::Claim::refused);
    EXPECT_EQ(fs::status(tmp / "target").permissions(), open);
    EXPECT_TRUE(fs::is_empty(tmp / "target"));
    std::ofstream(tmp / "file") << "not a folder";
    EXPECT_EQ(claimIn(tmp / "file"), SingleInstance::Claim::refused);
    if (::geteuid() == 0) {
        fs::create_directory(tmp / "foreign");
        fs::permissions(tmp / "foreign", fs::perms::owner_all);
        ASSERT_EQ(::chown((tmp / "foreign").c_str(), 4321, 4321), 0);
        EXPECT_EQ(claimIn(tmp / "foreign"), SingleInstance::Claim::refused);
        EXPECT_EQ(fs::status(tmp / "foreign").permissions(), fs::perms::owner_all);
        EXPECT_TRUE(fs::is_empty(tmp / "foreign"));
    }
}

// Another user who could write into the folder before it was made private
// may have left a lock naming a live instance and a socket of their own:
// taken as ours, a launch sent them "reopen" and ended.
TEST(SingleInstance, aSharedRuntimeFolderHoldingAnotherUsersItemsIsRefused) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to own files as another user";
    test::TemporaryFolder tmp;
    const fs::path shared = tmp / "shared";
    fs::create_directory(shared);
    fs::permissions(shared, fs::perms::all);
    const QString folder = QString::fromStdString(shared.string());
    QLockFile planted(folder + QStringLiteral("/kelto-sync.lock"));
    ASSERT_TRUE(planted.tryLock(0));
    QLocalServer listener;
    ASSERT_TRUE(listener.listen(folder + QStringLiteral("/kelto-sync.socket")));
    for (const char* name : {"kelto-sync.lock", "kelto-sync.socket"})
        ASSERT_EQ(::lchown((shared / name).c_str(), 4321, 4321), 0);

    SingleInstance instance(folder, true);
    EXPECT_EQ(instance.claim(std::chrono::milliseconds(300)), SingleInstance::Claim::refused);
    EXPECT_TRUE(instance.refusal().contains(QStringLiteral("user 4321"))) << instance.refusal().toStdString();
    EXPECT_EQ(fs::status(shared).permissions(), fs::perms::owner_all);
}

namespace {

struct Setup : ::testing::Test {
    test::TemporaryFolder folder;
    QSettings defaults{QString::fromStdString((folder / "defaults.ini").string()), QSettings::IniFormat};
    test::SetupRig rig;
    SyncSetup setup{defaults, rig.dependencies()};
    QWidget main;

    PermissionChecklistView* view() const {
        return setup.controller() ? setup.controller()->window()->findChild<PermissionChecklistView*>() : nullptr;
    }
    // The finished controller and its window go on the next turn.
    static bool gone(const QPointer<QWidget>& window) { return QTest::qWaitFor([&] { return window.isNull(); }); }
};

}  // namespace

TEST_F(Setup, theThreeItemsAndTheNotificationSwitch) {
    SyncSetup::Dependencies dependencies = rig.dependencies();
    dependencies.loginItem = LoginItem{QString::fromStdString((folder / "autostart.desktop").string()),
                                       QStringLiteral("/bin/true"), QStringLiteral("Kelto Sync")};
    int requests = 0;
    dependencies.requestNotifications = [&](std::function<void()> done) { ++requests, done(); };  // refused
    const std::vector<PermissionItem> items = SyncSetup::makeItems(dependencies, defaults);
    ASSERT_EQ(items.size(), 3u);
    const std::pair<QString, PermissionRequirement> expected[] = {
        {SyncSetup::fullDiskID, PermissionRequirement::recommended},
        {SyncSetup::loginID, PermissionRequirement::recommended},
        {SyncSetup::notificationsID, PermissionRequirement::optional}};
    for (std::size_t i = 0; i < items.size(); ++i) {
        EXPECT_EQ(items[i].id, expected[i].first);
        EXPECT_EQ(items[i].requirement, expected[i].second) << i;
    }
    const PermissionItem& notifications = items[2];
    EXPECT_FALSE(notifications.opensSettingsAfterRequest);
    EXPECT_FALSE(notifications.repeatsRequest);
    ASSERT_TRUE(notifications.destination);
    ASSERT_TRUE(notifications.request);
    bool done = false;
    notifications.request([&] { done = true; });
    EXPECT_TRUE(done);
    EXPECT_EQ(requests, 1);
    EXPECT_TRUE(defaults.value("notifications.enabled").toBool());
}

TEST_F(Setup, presentsAttachedAndReusesTheChecklist) {
    setup.present(std::nullopt, &main);
    ASSERT_NE(setup.controller(), nullptr);
    QWidget* window = setup.controller()->window();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Set up Kelto Sync"));
    EXPECT_EQ(window->windowHandle()->transientParent(), main.windowHandle());
    ASSERT_NE(view(), nullptr);
    EXPECT_NE(view()->row(QStringLiteral("sync.fullDisk")), nullptr);
    EXPECT_TRUE(defaults.value("setup.checklist.inProgress").toBool());

    // From the run history: no parent, focused on the disk item.
    PermissionSetupController* controller = setup.controller();
    setup.present(QStringLiteral("sync.fullDisk"), nullptr);
    EXPECT_EQ(setup.controller(), controller);
    EXPECT_EQ(setup.controller()->window(), window);
    EXPECT_EQ(window->windowHandle()->transientParent(), nullptr);
    EXPECT_EQ(setup.checklist()->focusedItemID(), QStringLiteral("sync.fullDisk"));
}

// Later and closing the window finish as later (onboarding done, no
// version); Done stores the version. A checklist presented again and left
// unfinished gates the next launch.
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
        EXPECT_TRUE(gone(window));
    }
}
