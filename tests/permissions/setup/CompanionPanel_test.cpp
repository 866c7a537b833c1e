#include "tests/permissions/checklist/FakePermission.h"
#include "tests/permissions/setup/FakeDesktop.h"

#include "KeltoPermissions/CompanionContent.h"
#include "KeltoPermissions/CompanionLayout.h"
#include "KeltoPermissions/CompanionPanel.h"
#include "Platform/Desktop/SettingsWindowGeometry.h"

#include <QPushButton>
#include <QWidget>

#include <gtest/gtest.h>

namespace kelto {
namespace {

using namespace std::chrono_literals;
using test::ChecklistRig;
using test::CompanionLog;
using test::FakeDesktop;
using test::FakeProbe;
using S = PermissionStatus;

struct PanelRig : ChecklistRig {
    std::shared_ptr<FakeProbe> probe = std::make_shared<FakeProbe>();
    PermissionItem item = test::fakeItem("files", PermissionRequirement::required, probe);
    std::unique_ptr<PermissionChecklist> checklist;
    FakeDesktop desktop;
    std::vector<bool> visibility;
    int backs = 0;
    std::unique_ptr<CompanionPanel> panel;

    PanelRig() {
        item.destination = SettingsDestination::privacy(PrivacyAnchor::allFiles);
        checklist = make({item});
        panel = std::make_unique<CompanionPanel>(
            *checklist, item, [this] { ++backs; }, [this](bool shown) { visibility.push_back(shown); },
            desktop.dependencies());
    }
    // Unanswered probes hold the items, whose probes hold them: a cycle.
    ~PanelRig() { probe->waiting.clear(); }
    void answer(S status) {
        checklist->refreshAll();
        probe->answer(status);
    }
};

TEST(CompanionPanel, FollowsTheSettingsWithReasonsAndDelays) {
    CompanionLog log;
    PanelRig rig;
    rig.panel->start();
    EXPECT_FALSE(rig.panel->isShowing()) << "nothing in front";
    EXPECT_TRUE(rig.visibility.empty()) << "hidden to hidden is no change";
    ASSERT_EQ(rig.desktop.sleepers.size(), 1u);
    EXPECT_EQ(rig.desktop.sleepers[0].delay, 500ms);
    ASSERT_NE(rig.panel->window(), nullptr);
    EXPECT_TRUE(rig.panel->window()->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(rig.panel->window()->testAttribute(Qt::WA_ShowWithoutActivating)) << "the settings keep the focus";
    // The loop: the settings come to the front, the panel stands beside.
    rig.desktop.settingsInFront();
    EXPECT_TRUE(rig.desktop.wake(500ms));
    EXPECT_TRUE(rig.panel->isShowing());
    EXPECT_EQ(rig.panel->window()->geometry().topLeft(), QPoint(812, 100));
    EXPECT_EQ(rig.desktop.presents, 1);
    ASSERT_EQ(rig.desktop.sleepers.size(), 1u);
    EXPECT_EQ(rig.desktop.sleepers[0].delay, 200ms);
    EXPECT_EQ(rig.panel->positionStep(), 200ms);
    EXPECT_EQ(log.count("Geometry source=window"), 1) << "an unchanged target is not logged again";
    rig.desktop.geometry.reset();
    EXPECT_EQ(rig.panel->positionStep(), 200ms);
    EXPECT_EQ(log.count("Geometry source=fallback-main-screen"), 1);
    EXPECT_EQ(rig.panel->window()->geometry().right() + 1, 1440 - 12);
    rig.desktop.main.reset();
    EXPECT_EQ(rig.panel->positionStep(), 200ms);
    EXPECT_FALSE(rig.panel->isShowing());
    EXPECT_EQ(log.count("Visibility=hidden reason=no-visible-screen"), 1);
    // Another program in front: hidden at once by the activation.
    rig.desktop.settingsInFront();
    rig.panel->positionStep();
    rig.desktop.front = QStringLiteral("firefox");
    emit rig.desktop.workspace->activated();
    EXPECT_FALSE(rig.panel->isShowing());
    EXPECT_EQ(log.count("Visibility=hidden reason=settings-not-frontmost"), 1);
    EXPECT_EQ(rig.panel->positionStep(), 500ms);
    EXPECT_EQ(rig.visibility, (std::vector<bool>{true, false, true, false})) << "one callback per change";
    EXPECT_EQ(log.count("Frontmost changed="), 2) << "the settings, firefox: none at first is no change";
    EXPECT_EQ(log.count("Frontmost changed=gnome-control-center"), 1);
}

TEST(CompanionPanel, GrantClosesAfterASecondUnlessTheStatusMovesOn) {
    CompanionLog log;
    PanelRig rig;
    rig.desktop.settingsInFront();
    rig.panel->start();
    rig.answer(S::missing);
    EXPECT_FALSE(rig.desktop.wake(1000ms)) << "no wait before a grant";
    rig.answer(S::granted);
    rig.answer(S::missing);
    EXPECT_TRUE(rig.desktop.wake(1000ms));
    EXPECT_FALSE(rig.panel->isFinished()) << "the change cancelled the wait";
    rig.answer(S::granted);
    EXPECT_TRUE(rig.desktop.wake(1000ms));
    EXPECT_TRUE(rig.panel->isFinished());
    EXPECT_EQ(log.count("Close reason=permission-granted item=files"), 1);
    EXPECT_EQ(rig.panel->window(), nullptr);
    EXPECT_EQ(rig.visibility, (std::vector<bool>{true, false}));
    EXPECT_EQ(log.count("Visibility=hidden reason=permission-granted"), 1);
    // Late steps and wakes do nothing.
    EXPECT_EQ(rig.panel->positionStep(), 500ms);
    while (rig.desktop.wake(200ms)) {}
    EXPECT_EQ(rig.visibility.size(), 2u);
}

TEST(CompanionPanel, OnlyTheSettingsExitClosesAndClosingTwiceLogsOnce) {
    CompanionLog log;
    PanelRig rig;
    rig.desktop.settingsInFront();
    rig.panel->start();
    emit rig.desktop.workspace->terminated(QStringLiteral("firefox"));
    EXPECT_FALSE(rig.panel->isFinished());
    emit rig.desktop.workspace->terminated(QStringLiteral("gnome-control-center"));
    EXPECT_TRUE(rig.panel->isFinished());
    rig.panel->close(QStringLiteral("back-button"));
    emit rig.desktop.workspace->terminated(QStringLiteral("gnome-control-center"));
    EXPECT_EQ(log.count("Close reason="), 1);
    EXPECT_EQ(log.count("Close reason=settings-terminated item=files"), 1);
    EXPECT_EQ(rig.visibility, (std::vector<bool>{true, false}));
    rig.panel->start();
    EXPECT_EQ(rig.panel->window(), nullptr) << "a finished panel never starts again";
}

const QRectF screen(0, 0, 1440, 875);
const QSizeF panel(300, 400);

TEST(CompanionLayout, RightLeftClampedAndCut) {
    // Room on the right: 12 beside, top edges level.
    EXPECT_EQ(CompanionLayout::frame(QRectF(200, 100, 600, 500), screen, panel, 12), QRectF(812, 100, 300, 400));
    // No room on the right: on the left.
    EXPECT_EQ(CompanionLayout::frame(QRectF(900, 100, 500, 500), screen, panel, 12), QRectF(588, 100, 300, 400));
    // Room on neither side, window low on the screen: kept inside.
    EXPECT_EQ(CompanionLayout::frame(QRectF(100, 700, 1300, 300), screen, panel, 12), QRectF(0, 475, 300, 400));
    // A panel larger than the screen is cut to it.
    EXPECT_EQ(CompanionLayout::frame(QRectF(200, 100, 600, 500), QRectF(0, 30, 800, 600), QSizeF(900, 700), 12),
              QRectF(0, 30, 800, 600));
    // Without the window: at the right edge, vertically centred.
    EXPECT_EQ(CompanionLayout::fallback(screen, panel, 12), QRectF(1128, 237.5, 300, 400));
    EXPECT_EQ(CompanionLayout::fallback(QRectF(0, 0, 200, 300), panel, 12), QRectF(0, 0, 200, 300));
}

TEST(SettingsWindowGeometry, LargestWindowAndItsScreen) {
    using G = SettingsWindowGeometry;
    EXPECT_FALSE(G::largestWindow({}));
    EXPECT_FALSE(G::largestWindow({QRectF(0, 0, 0, 100)})) << "an empty window is no window";
    EXPECT_EQ(G::largestWindow({QRectF(0, 0, 100, 100), QRectF(5, 5, 200, 100), QRectF(9, 9, 100, 200)}),
              QRectF(5, 5, 200, 100))
        << "ties go to the earlier";
    const G::Screen left{QRectF(0, 0, 1000, 800), QRectF(0, 30, 1000, 770)};
    const G::Screen right{QRectF(1000, 0, 1000, 800), QRectF(1000, 0, 1000, 800)};
    EXPECT_EQ(G::screenOf(QRectF(900, 0, 300, 100), {left, right}), 1u);
    EXPECT_EQ(G::screenOf(QRectF(900, 0, 200, 100), {left, right}), 0u) << "equal overlap: the earlier";
    EXPECT_EQ(G::screenOf(QRectF(5000, 0, 10, 10), {left, right}), 0u) << "off every screen: the first";
    EXPECT_FALSE(G::screenOf(QRectF(0, 0, 10, 10), {}));
    // A screen above the primary one has negative y; its own area is used.
    const G::Screen above{QRectF(0, -1080, 1920, 1080), QRectF(0, -1050, 1920, 1050)};
    const auto geometry = G::locate({QRectF(100, -900, 800, 600)}, {left, above});
    ASSERT_TRUE(geometry);
    EXPECT_EQ(geometry->frame, QRectF(100, -900, 800, 600));
    EXPECT_EQ(geometry->visibleFrame, above.visibleFrame);
    EXPECT_FALSE(G::locate({}, {left}));
    EXPECT_FALSE(G::locate({QRectF(0, 0, 10, 10)}, {}));
}

}  // namespace
}  // namespace kelto
