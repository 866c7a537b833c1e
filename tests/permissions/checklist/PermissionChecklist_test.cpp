#include "tests/permissions/checklist/FakePermission.h"

#include <QSignalSpy>
#include <QTimer>

#include <gtest/gtest.h>

namespace kelto {
namespace {

using test::ChecklistRig;
using test::FakeProbe;
using test::FakeRequest;
using test::fakeItem;
using test::giveRequest;
using test::refreshWith;
using S = PermissionStatus;
using R = PermissionRequirement;

const SettingsDestination allFiles = SettingsDestination::privacy(PrivacyAnchor::allFiles);

// Nothing to ask and nowhere to go is no button; a used-up one-time request falls back to the destination, or none.
TEST(PermissionChecklist, CallToActionFollowsStatusRequestAndDestination) {
    ChecklistRig rig;
    auto probe = std::make_shared<FakeProbe>();
    auto request = std::make_shared<FakeRequest>();
    PermissionItem both = fakeItem("both", R::required, probe), bare = fakeItem("bare", R::required, probe);
    PermissionItem onlyRequest = fakeItem("onlyRequest", R::required, probe);
    PermissionItem settings = fakeItem("settings", R::required, probe);
    giveRequest(both, request);
    giveRequest(onlyRequest, request);
    both.destination = allFiles;
    settings.destination = SettingsDestination::loginItems();
    auto checklist = rig.make({both, onlyRequest, bare, settings});
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

TEST(PermissionChecklist, PerformRunsOnceAndHandsOffOrFailsCleanly) {
    ChecklistRig rig;
    auto probe = std::make_shared<FakeProbe>();
    auto request = std::make_shared<FakeRequest>();
    PermissionItem asked = fakeItem("asked", R::required, probe);
    giveRequest(asked, request);
    asked.repeatsRequest = true;
    asked.requestState = std::make_shared<PermissionRequestState>();
    PermissionItem pane = fakeItem("pane", R::required, probe);
    pane.destination = allFiles;
    auto checklist = rig.make({asked, pane});
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
    rig.opens = false;
    std::vector<QString> calls;
    checklist->onOpenSettings = [&](const PermissionItem& item) { calls.push_back("open " + item.id); };
    checklist->onSettingsOpenFailed = [&] { calls.push_back("failed"); };
    checklist->perform("pane");
    EXPECT_EQ(calls, (std::vector<QString>{"open pane", "failed"}));
    EXPECT_FALSE(checklist->isPending("pane"));
    EXPECT_EQ(checklist->focusedItemID(), QStringLiteral("pane"));
    EXPECT_EQ(rig.defaults.value(PermissionChecklist::focusKey()).toString(), QStringLiteral("pane"));
    rig.opens = true;
    checklist->perform("pane");
    EXPECT_TRUE(checklist->isPending("pane"));
    EXPECT_EQ(rig.openCalls, 2);
}

TEST(PermissionChecklist, ResultsAfterReplacedItemsOrAStopAreDropped) {
    ChecklistRig rig;
    auto probe = std::make_shared<FakeProbe>();
    auto checklist = rig.make({fakeItem("a", R::required, probe), fakeItem("b", R::required, probe)});
    refreshWith(*checklist, *probe, {S::granted, S::granted});
    checklist->refreshAll();
    checklist->setItems({fakeItem("a", R::required, probe)});
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
}

TEST(PermissionChecklist, ReturnFromSettingsMarksOnlyWhatTheFreshProbeFinds) {
    ChecklistRig rig;
    auto probe = std::make_shared<FakeProbe>();
    PermissionItem pane = fakeItem("pane", R::required, probe);
    pane.destination = allFiles;
    auto checklist = rig.make({pane});
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

TEST(PermissionChecklist, ConfirmationCountsOnlyWhileUnverifiable) {
    ChecklistRig rig;
    auto probe = std::make_shared<FakeProbe>();
    PermissionItem disk = fakeItem("disk", R::required, probe);
    disk.allowsManualConfirm = true;
    int confirmedCalls = 0;
    disk.onManualConfirm = [&] { ++confirmedCalls; };
    PermissionItem extra = fakeItem("extra", R::optional, probe);
    auto checklist = rig.make({disk, extra});
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
    EXPECT_TRUE(rig.defaults.value(PermissionChecklist::confirmedKey("disk")).toBool());
    EXPECT_EQ(checklist->readiness(), (std::pair<qint64, qint64>{1, 1}));
    EXPECT_FALSE(checklist->canFinish()) << "a hand confirmation does not finish";
    refreshWith(*checklist, *probe, {S::missing, S::granted});
    EXPECT_FALSE(checklist->isManuallyConfirmed("disk"));
    EXPECT_EQ(checklist->readiness().first, 0);
    changed.clear();
    refreshWith(*checklist, *probe, {S::missing, S::granted});
    EXPECT_EQ(changed.count(), 0) << "equal answers publish nothing";
    // A new checklist reads the stored confirmation back.
    auto again = rig.make({disk, extra});
    EXPECT_EQ(again->confirmations(), std::set<QString>{"disk"});
    refreshWith(*again, *probe, {S::unverifiable, S::granted});
    EXPECT_TRUE(again->isManuallyConfirmed("disk"));
    auto optionalOnly = rig.make({extra});
    EXPECT_EQ(optionalOnly->readiness(), (std::pair<qint64, qint64>{0, 0}));
    EXPECT_TRUE(optionalOnly->canFinish());
}

TEST(PermissionChecklist, MonitoringKeepsOneLoopAndDiesWithTheChecklist) {
    ChecklistRig rig;
    auto probe = std::make_shared<FakeProbe>();
    auto checklist = rig.make({fakeItem("a", R::required, probe)});
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

TEST(PermissionChecklist, RestartFocusesAndAsksTheRelauncherOnce) {
    ChecklistRig rig;
    auto probe = std::make_shared<FakeProbe>();
    auto checklist = rig.make({fakeItem("a", R::required, probe)});
    refreshWith(*checklist, *probe, {S::restartRequired});
    checklist->perform("a");
    checklist->requestRestart("a");
    EXPECT_EQ(rig.terminations, 1);
    EXPECT_EQ(rig.defaults.value(PermissionChecklist::focusKey()).toString(), QStringLiteral("a"));
    EXPECT_EQ(rig.make({})->focusedItemID(), QStringLiteral("a"));
}

}  // namespace
}  // namespace kelto
