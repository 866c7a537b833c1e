#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QWindow>

#include "KeltoPermissions/PermissionChecklistView.h"
#include "Kelto_Sync/App/SyncSetup.h"
#include "tests/app/SetupRig.h"
#include "tests/support/TemporaryFolder.h"

#include <gtest/gtest.h>

using namespace kelto;

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
