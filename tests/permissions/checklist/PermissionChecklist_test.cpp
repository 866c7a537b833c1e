#include "tests/permissions/checklist/FakePermission.h"

#include "KeltoDesign/KeltoSecondaryButtonStyle.h"
#include "KeltoPermissions/AppDragTile.h"
#include "KeltoPermissions/CompanionContent.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

namespace kelto {
namespace {

using test::ChecklistRig;
using test::giveRequest;
using test::refreshWith;
using S = PermissionStatus;
using R = PermissionRequirement;

const SettingsDestination allFiles = SettingsDestination::privacy(PrivacyAnchor::allFiles);

struct PermissionChecklistTest : testing::Test, ChecklistRig {};

// Nothing to ask and nowhere to go is no button; a used-up one-time request falls back to the destination, or none.
TEST_F(PermissionChecklistTest, CallToActionFollowsStatusRequestAndDestination) {
    PermissionItem both = fake("both", R::required), bare = fake("bare", R::required);
    PermissionItem onlyRequest = fake("onlyRequest", R::required);
    PermissionItem settings = fake("settings", R::required);
    giveRequest(both, request);
    giveRequest(onlyRequest, request);
    both.destination = allFiles;
    settings.destination = SettingsDestination::loginItems();
    auto checklist = make({both, onlyRequest, bare, settings});
    using C = PermissionCTA;
    const auto ctas = [&] {
        std::vector<C> all;
        for (const char* id : {"both", "onlyRequest", "bare", "settings", "unknown"}) all.push_back(checklist->cta(id));
        return all;
    };
    const auto all = [&](S status) { refreshWith(*checklist, *probe, {status, status, status, status}); };
    EXPECT_EQ(ctas(), std::vector<C>(5, C::none)) << "no status yet";
    all(S::missing);
    EXPECT_EQ(ctas(), (std::vector{C::request, C::request, C::none, C::openSettings, C::none}));
    checklist->perform("both");
    checklist->perform("onlyRequest");
    request->finish();
    all(S::missing);
    request->finish();
    all(S::missing);
    EXPECT_EQ(ctas(), (std::vector{C::openSettings, C::none, C::none, C::openSettings, C::none}));
    checklist->perform("onlyRequest");
    EXPECT_EQ(request->calls, 2);
    for (S status : {S::denied, S::needsApproval, S::unverifiable}) {
        all(status);
        EXPECT_EQ(ctas(), (std::vector{C::openSettings, C::none, C::none, C::openSettings, C::none}));
    }
    all(S::restartRequired);
    EXPECT_EQ(ctas()[2], C::restart);
    all(S::granted);
    EXPECT_EQ(ctas(), std::vector<C>(5, C::none));
}

TEST_F(PermissionChecklistTest, PerformRunsOnceAndHandsOffOrFailsCleanly) {
    PermissionItem asked = fake("asked", R::required);
    giveRequest(asked, request);
    asked.repeatsRequest = true;
    asked.requestState = std::make_shared<PermissionRequestState>();
    PermissionItem pane = fake("pane", R::required);
    pane.destination = allFiles;
    auto checklist = make({asked, pane});
    refreshWith(*checklist, *probe, {S::missing, S::denied});
    int finished = 0;
    checklist->perform("asked", [&] { ++finished; });
    checklist->perform("asked", [&] { ++finished; });
    EXPECT_EQ(request->calls, 1);
    EXPECT_EQ(finished, 1) << "the second press ends at once";
    asked.requestState->error = QStringLiteral("It failed.");
    request->finish();
    EXPECT_EQ(checklist->error("asked"), QStringLiteral("It failed."));
    EXPECT_TRUE(checklist->isRefreshing()) << "the request is followed by a refresh";
    probe->answer(S::missing);
    probe->answer(S::denied);
    EXPECT_EQ(finished, 2);
    // The settings refuse to open: announced first, then the failure.
    opens = false;
    std::vector<QString> calls;
    checklist->onOpenSettings = [&](const PermissionItem& item) { calls.push_back("open " + item.id); };
    checklist->onSettingsOpenFailed = [&] { calls.push_back("failed"); };
    checklist->perform("pane");
    EXPECT_EQ(calls, (std::vector<QString>{"open pane", "failed"}));
    EXPECT_FALSE(checklist->isPending("pane"));
    EXPECT_EQ(checklist->focusedItemID(), QStringLiteral("pane"));
    EXPECT_EQ(defaults.value(PermissionChecklist::focusKey()).toString(), QStringLiteral("pane"));
    opens = true;
    checklist->perform("pane");
    EXPECT_TRUE(checklist->isPending("pane"));
    EXPECT_EQ(openCalls, 2);
}

TEST_F(PermissionChecklistTest, ReturnFromSettingsMarksOnlyWhatTheFreshProbeFinds) {
    PermissionItem pane = fake("pane", R::required);
    pane.destination = allFiles;
    auto checklist = make({pane});
    refreshWith(*checklist, *probe, {S::missing});
    checklist->perform("pane");
    checklist->refreshAfterReturn();
    probe->answer(S::missing);
    EXPECT_EQ(checklist->returnedWithoutSuccess(), std::set<QString>{"pane"});
    refreshWith(*checklist, *probe, {S::granted});
    EXPECT_TRUE(checklist->returnedWithoutSuccess().empty());
    // The user grants while a refresh probed before the grant is running:
    // its stale answer must not count as a failed return.
    refreshWith(*checklist, *probe, {S::missing});
    checklist->perform("pane");
    checklist->refreshAll();
    int returned = 0;
    checklist->refreshAfterReturn([&] { ++returned; });
    probe->answer(S::missing);
    EXPECT_TRUE(checklist->returnedWithoutSuccess().empty());
    EXPECT_EQ(returned, 0) << "waits for a refresh of its own";
    probe->answer(S::granted);
    EXPECT_EQ(returned, 1);
    EXPECT_TRUE(checklist->returnedWithoutSuccess().empty());
    EXPECT_EQ(checklist->status("pane"), S::granted);
}

TEST_F(PermissionChecklistTest, ConfirmationCountsOnlyWhileUnverifiable) {
    PermissionItem disk = fake("disk", R::required);
    disk.allowsManualConfirm = true;
    int confirmedCalls = 0;
    disk.onManualConfirm = [&] { ++confirmedCalls; };
    PermissionItem extra = fake("extra", R::optional);
    auto checklist = make({disk, extra});
    EXPECT_EQ(checklist->readiness(), (std::pair<qint64, qint64>{0, 1}));
    EXPECT_FALSE(checklist->canFinish());
    refreshWith(*checklist, *probe, {S::missing, S::granted});
    checklist->confirmManually("disk");
    EXPECT_TRUE(checklist->confirmations().empty()) << "only an unverifiable item can be confirmed";
    refreshWith(*checklist, *probe, {S::unverifiable, S::granted});
    QSignalSpy changed(checklist.get(), &PermissionChecklist::changed);
    checklist->confirmManually("disk");
    checklist->confirmManually("disk");
    EXPECT_EQ(confirmedCalls, 1);
    EXPECT_EQ(changed.count(), 1);
    EXPECT_TRUE(defaults.value(PermissionChecklist::confirmedKey("disk")).toBool());
    EXPECT_EQ(checklist->readiness(), (std::pair<qint64, qint64>{1, 1}));
    EXPECT_FALSE(checklist->canFinish()) << "a hand confirmation does not finish";
    refreshWith(*checklist, *probe, {S::missing, S::granted});
    EXPECT_FALSE(checklist->isManuallyConfirmed("disk"));
    EXPECT_EQ(checklist->readiness().first, 0);
    changed.clear();
    refreshWith(*checklist, *probe, {S::missing, S::granted});
    EXPECT_EQ(changed.count(), 0) << "equal answers publish nothing";
    // A new checklist reads the stored confirmation back.
    auto again = make({disk, extra});
    EXPECT_EQ(again->confirmations(), std::set<QString>{"disk"});
    refreshWith(*again, *probe, {S::unverifiable, S::granted});
    EXPECT_TRUE(again->isManuallyConfirmed("disk"));
    auto optionalOnly = make({extra});
    EXPECT_EQ(optionalOnly->readiness(), (std::pair<qint64, qint64>{0, 0}));
    EXPECT_TRUE(optionalOnly->canFinish());
}

// Answers to a refresh of replaced items or after a stop are dropped; monitoring keeps one loop, waiting from the
// end of each refresh, and dies with the checklist.
TEST_F(PermissionChecklistTest, ResultsAfterReplacedItemsOrAStopAreDroppedAndMonitoringKeepsOneLoop) {
    auto checklist = make({fake("a"), fake("b")});
    refreshWith(*checklist, *probe, {S::granted, S::granted});
    checklist->refreshAll();
    checklist->setItems({fake("a")});
    EXPECT_EQ(checklist->status("b"), S::checking) << "a removed item's status goes";
    probe->answer(S::missing);
    EXPECT_EQ(checklist->status("a"), S::granted);
    EXPECT_FALSE(checklist->isRefreshing());
    EXPECT_TRUE(probe->waiting.empty()) << "the old refresh probed nothing more";
    checklist->startMonitoring();
    checklist->stopMonitoring();
    probe->answer(S::missing);
    EXPECT_EQ(checklist->status("a"), S::granted);
    EXPECT_FALSE(checklist->isRefreshing());
    probe->calls = 0;
    checklist->startMonitoring(std::chrono::milliseconds(1500));
    checklist->startMonitoring(std::chrono::milliseconds(1500));
    EXPECT_EQ(probe->calls, 1) << "the first refresh runs at once, once";
    auto* timer = checklist->findChild<QTimer*>(QStringLiteral("permissions.monitor"));
    ASSERT_NE(timer, nullptr);
    EXPECT_FALSE(timer->isActive()) << "the wait starts when the refresh ends";
    probe->answer(S::missing);
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), 1500);
    QMetaObject::invokeMethod(timer, "timeout");
    EXPECT_EQ(probe->calls, 2);
    QPointer<QTimer> watched = timer;
    checklist.reset();
    EXPECT_TRUE(watched.isNull());
    probe->answer(S::granted);  // a late answer to a gone checklist is dropped
}

struct CompanionRig : ChecklistRig {
    PermissionItem item = fake("item");
    std::unique_ptr<PermissionChecklist> checklist;
    int backs = 0;

    explicit CompanionRig(std::optional<SettingsDestination> destination) {
        item.title = QStringLiteral("Full Disk Access");
        item.destination = destination;
        checklist = make({item});
    }
    std::unique_ptr<CompanionContent> content(AppInstallLocation::Kind location = AppInstallLocation::Kind::normal) {
        return std::make_unique<CompanionContent>(*checklist, item, QStringLiteral("/opt/kelto-sync"),
                                                  AppInstallLocation{location}, [this] { ++backs; });
    }
    void answer(S status) {
        checklist->refreshAll();
        probe->answer(status);
    }
};

const QString review = QStringLiteral("Review this setting, then return to Kelto Sync.");
const QString moveHint = QStringLiteral("Move Kelto Sync to Applications and reopen it.");
const QString stillNot =
    QStringLiteral("Still not working? Select Kelto Sync, remove it with \u2212, then drag it in again.");

TEST(CompanionContent, PrivacyPaneGivesStepsAndTheDragTileByInstallLocation) {
    CompanionRig rig(SettingsDestination::privacy(PrivacyAnchor::allFiles));
    auto normal = rig.content();
    EXPECT_FALSE(normal->visibleTexts().contains(review));
    EXPECT_FALSE(normal->visibleTexts().contains(moveHint));
    ASSERT_NE(normal->dragTile(), nullptr);
    EXPECT_TRUE(normal->dragTile()->allowsDrag());
    EXPECT_EQ(normal->showButton(), nullptr);
    for (auto location : {AppInstallLocation::Kind::translocated, AppInstallLocation::Kind::readOnlyVolume}) {
        auto moved = rig.content(location);
        EXPECT_FALSE(moved->dragTile()->allowsDrag());
        EXPECT_TRUE(moved->visibleTexts().contains(moveHint));
        QStringList revealed;
        bool shows = true;
        moved->setReveal([&](const QString& path, std::function<void(bool)> shown) {
            revealed.push_back(path);
            shown(shows);
        });
        ASSERT_NE(moved->showButton(), nullptr);
        moved->showButton()->click();
        EXPECT_EQ(revealed, QStringList{"/opt/kelto-sync"});
        for (QPushButton* button : {moved->showButton(), moved->backButton(), moved->restartButton()}) {
            EXPECT_EQ(qobject_cast<KeltoSecondaryButtonStyle*>(button->style()), nullptr)
                << button->text().toStdString();
        }
        // Where no file manager shows it, the panel says so, naming where it is, to be copied.
        EXPECT_FALSE(moved->showFailedLabel()->isVisibleTo(moved.get()));
        shows = false;
        moved->showButton()->click();
        EXPECT_TRUE(moved->showFailedLabel()->isVisibleTo(moved.get()));
        EXPECT_TRUE(moved->showFailedPathLabel()->isVisibleTo(moved.get()));
        EXPECT_EQ(moved->showFailedPathLabel()->text(), QStringLiteral("/opt/kelto-sync"));
        EXPECT_TRUE(moved->showFailedPathLabel()->textInteractionFlags() & Qt::TextSelectableByMouse);
    }
    // Back from the settings without the grant: the hints and the restart.
    EXPECT_FALSE(normal->restartButton()->isVisibleTo(normal.get()));
    rig.answer(S::missing);
    rig.checklist->perform("item");
    rig.checklist->refreshAfterReturn();
    rig.probe->answer(S::missing);
    EXPECT_TRUE(normal->visibleTexts().contains(stillNot));
    EXPECT_TRUE(normal->restartButton()->isVisibleTo(normal.get()));
    normal->backButton()->click();
    EXPECT_EQ(rig.backs, 1);
}

TEST(CompanionContent, OtherDestinationsOnlyReviewAndRestartWhenRequired) {
    for (const auto& destination : {std::optional(SettingsDestination::loginItems()),
                                    std::optional<SettingsDestination>()}) {
        CompanionRig rig(destination);
        auto content = rig.content();
        EXPECT_TRUE(content->visibleTexts().contains(review));
        EXPECT_EQ(content->dragTile(), nullptr);
        EXPECT_FALSE(content->restartButton()->isVisibleTo(content.get()));
        rig.answer(S::restartRequired);
        ASSERT_TRUE(content->restartButton()->isVisibleTo(content.get()));
        EXPECT_FALSE(content->visibleTexts().contains(stillNot));
        content->restartButton()->click();
        EXPECT_EQ(rig.terminations, 1);
        EXPECT_EQ(rig.checklist->focusedItemID(), QStringLiteral("item"));
    }
}

struct Started {
    std::unique_ptr<QMimeData> data;
    QPixmap image;
    QPoint hotSpot;
    Qt::DropActions actions;
};

struct TileRig {
    AppDragTile tile{QStringLiteral("/opt/kelto-sync"), QStringLiteral("Kelto Sync"), PermissionStrings(), true};
    std::vector<Started> drags;

    TileRig() {
        tile.resize(260, 64);
        tile.setDragStarter([this](QMimeData* data, const QPixmap& image, const QPoint& hotSpot, Qt::DropActions actions) {
            drags.push_back({std::unique_ptr<QMimeData>(data), image, hotSpot, actions});
        });
    }
    void send(QEvent::Type type, QPointF at) {
        const Qt::MouseButtons buttons = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent event(type, at, tile.mapToGlobal(at), Qt::LeftButton, buttons, Qt::NoModifier);
        QApplication::sendEvent(&tile, &event);
    }
};

// A press made while the tile could not drag starts nothing; later, one copy drag of the bundle per press, after four
// points.
TEST(AppDragTile, StartsOneCopyDragOfTheBundleAfterFourPointsOnlyWhileItMayDrag) {
    TileRig rig;
    rig.tile.configure(QStringLiteral("Kelto Sync"), PermissionStrings(), false);
    EXPECT_DOUBLE_EQ(rig.tile.opacity(), 0.5);
    EXPECT_TRUE(QAccessible::queryAccessibleInterface(&rig.tile)->state().disabled);
    rig.send(QEvent::MouseButtonPress, {20, 20});
    rig.tile.configure(QStringLiteral("Kelto Sync"), PermissionStrings(), true);
    rig.send(QEvent::MouseMove, {40, 20});
    EXPECT_TRUE(rig.drags.empty()) << "a press made while it could not drag starts nothing";
    EXPECT_DOUBLE_EQ(rig.tile.opacity(), 1.0);
    rig.send(QEvent::MouseButtonRelease, {40, 20});
    rig.send(QEvent::MouseButtonPress, {20, 20});
    rig.send(QEvent::MouseMove, {23.9, 20});
    EXPECT_TRUE(rig.drags.empty()) << "3.9 points is not yet a drag";
    rig.send(QEvent::MouseMove, {24, 20});
    rig.send(QEvent::MouseMove, {60, 40});
    ASSERT_EQ(rig.drags.size(), 1u) << "one drag per press";
    const Started& drag = rig.drags.front();
    EXPECT_EQ(drag.data->urls(), QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/opt/kelto-sync"))});
    EXPECT_EQ(drag.actions, Qt::DropActions(Qt::CopyAction));
    EXPECT_EQ(drag.image.deviceIndependentSize().toSize(), QSize(56, 56));
    EXPECT_EQ(drag.hotSpot, QPoint(28, 28));
    rig.send(QEvent::MouseButtonRelease, {60, 40});
    rig.send(QEvent::MouseButtonPress, {20, 20});
    rig.send(QEvent::MouseMove, {20, 25});
    EXPECT_EQ(rig.drags.size(), 2u);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(&rig.tile)->text(QAccessible::Name),
              QStringLiteral("Kelto Sync, Drag into the list"));
}

}  // namespace
}  // namespace kelto
