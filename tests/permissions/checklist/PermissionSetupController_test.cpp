#include "tests/permissions/checklist/FakePermission.h"

#include "KeltoPermissions/CompanionContent.h"
#include "KeltoPermissions/CompanionLayout.h"
#include "KeltoPermissions/PermissionSetupController.h"
#include "KeltoPermissions/PermissionSetupState.h"
#include "Platform/Desktop/SettingsWindowGeometry.h"

#include <QEnterEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QVBoxLayout>
#include <QWindow>

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace kelto {
namespace {

using namespace std::chrono_literals;
using namespace test;
using Outcome = PermissionSetupOutcome;
using S = PermissionStatus;

struct FilesRig : ItemRig {
    FakeDesktop desktop;
    FilesRig() : ItemRig(QStringLiteral("files"), SettingsDestination::privacy(PrivacyAnchor::allFiles)) {}
};

struct ControllerRig : FilesRig {
    std::vector<Outcome> outcomes;
    int presents = 0;
    int dismisses = 0;
    std::unique_ptr<PermissionSetupController> controller;

    explicit ControllerRig(bool companionSupported = true, PermissionSetupController::MakeView makeView = {}) {
        if (!makeView) {
            makeView = [](PermissionSetupController&) {
                auto* view = new QLabel(QStringLiteral("checklist"));
                view->setMinimumSize(420, 360);
                return view;
            };
        }
        controller = std::make_unique<PermissionSetupController>(
            *checklist, std::move(makeView), QStringLiteral("Set up Kelto Sync"),
            [this](Outcome o) { outcomes.push_back(o); }, [this](QWidget& w) { ++presents, w.show(); },
            [this](QWidget& w) { ++dismisses, w.hide(); });
        controller->setCompanionDependencies(companionSupported ? std::optional(desktop.dependencies()) : std::nullopt);
    }
    QWidget* shown() {
        controller->show();
        QWidget* window = controller->window();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window));
        settle();
        return window;
    }
    static void settle() {
        for (int pass = 0; pass < 5; ++pass) QCoreApplication::processEvents();
    }
};

QWidget* fixedWidthView(std::vector<QWidget*> rows) {
    auto* view = new QWidget;
    view->setFixedWidth(560);
    auto* layout = new QVBoxLayout(view);
    for (QWidget* row : rows)
        layout->addWidget(row, 0, qobject_cast<QPushButton*>(row) ? Qt::AlignRight : Qt::Alignment());
    return view;
}
QLabel* rowOf(int height, bool visible = true) {
    auto* row = new QLabel(QStringLiteral("row"));
    row->setMinimumHeight(height);
    row->setVisible(visible);
    return row;
}

TEST(PermissionSetupController, OneCentredWindowFitsAFixedWidthViewAndFocusesOnRequest) {
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    for (const int height : {300, 5000}) {
        SCOPED_TRACE(height);
        QPushButton* done = nullptr;
        ControllerRig rig(true, [&](PermissionSetupController&) {
            done = new QPushButton(QStringLiteral("Done"));
            return fixedWidthView({rowOf(height), done});
        });
        QWidget* window = rig.shown();
        EXPECT_EQ(window->windowType(), Qt::Dialog) << "kept above the window it is presented for";
        EXPECT_EQ(window->minimumSize(), window->maximumSize()) << "fixed size";
        EXPECT_LE((window->geometry().center() - available.center()).manhattanLength(), 2) << "centred";
        EXPECT_LT(window->height(), available.height() - 24);
        auto* scroll = window->findChild<QScrollArea*>();
        ASSERT_NE(scroll, nullptr);
        EXPECT_GE(scroll->viewport()->width(), 560);
        EXPECT_LE(done->mapTo(scroll->viewport(), QPoint(done->width(), 0)).x(), scroll->viewport()->width())
            << "the right-aligned button is cut off";
        EXPECT_TRUE(rig.checklist->isMonitoring());
        EXPECT_FALSE(rig.checklist->focusedItemID()) << "no identifier, no focus";
        rig.controller->show(QStringLiteral("files"));
        EXPECT_EQ(rig.controller->window(), window);
        EXPECT_EQ(rig.presents, 2);
        EXPECT_EQ(rig.checklist->focusedItemID(), QStringLiteral("files"));
        EXPECT_EQ(rig.defaults.value(PermissionChecklist::focusKey()).toString(), QStringLiteral("files"));
    }
}

// The first statuses arrive just after the window opens; a pointer it merely opened under has reached for nothing.
TEST(PermissionSetupController, TheWindowFollowsItsRowsUntilTheUserReachesIt) {
    std::vector<QWidget*> rows;
    ControllerRig rig(true, [&](PermissionSetupController&) {
        rows = {rowOf(300), rowOf(300, false), rowOf(300, false)};
        return fixedWidthView(rows);
    });
    const std::vector<std::pair<const char*, std::function<void(QWindow*)>>> inputs{
        {"enter alone", [](QWindow* w) {
             QEnterEvent enter(QPointF(20, 20), QPointF(20, 20), w->mapToGlobal(QPointF(20, 20)));
             QCoreApplication::sendEvent(w, &enter);
         }},
        {"move", [](QWindow* w) { QTest::mouseMove(w, QPoint(20, 20)); }},
        {"press", [](QWindow* w) { QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(30, 30)); }},
        {"key", [](QWindow* w) { QTest::keyClick(w, Qt::Key_Tab); }},
    };
    QWidget* window = nullptr;
    int reached = 0;
    for (const auto& [name, input] : inputs) {
        SCOPED_TRACE(name);
        for (QWidget* row : rows) row->setVisible(row == rows.front());
        window = rig.shown();
        const int opened = window->height();
        rows[1]->show();
        rig.settle();
        EXPECT_GE(window->height(), opened + 300) << "opened with a row out of view";
        EXPECT_TRUE(QGuiApplication::primaryScreen()->availableGeometry().contains(window->frameGeometry()))
            << "grew off the screen";
        input(window->windowHandle());
        rig.settle();
        reached = window->height();
        rows[2]->show();
        rig.settle();
        if (name == std::string("enter alone")) {
            EXPECT_GT(window->height(), reached);
        } else {
            EXPECT_EQ(window->height(), reached) << "grew under the pointer";
            EXPECT_TRUE(window->findChild<QScrollArea*>()->verticalScrollBar()->isVisible());
            for (QWidget* row : {rows[1], rows[2]}) row->hide();
            rig.settle();
            EXPECT_EQ(window->height(), reached) << "shrank under the pointer";
        }
        window->hide();
    }
    window->show();
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->height() < reached; })) << "shown again, it fits its view";
}

TEST(PermissionSetupController, LaterOnceDoneOnlyWhenAllowedAndNoRefreshWhileMinimised) {
    ControllerRig rig;
    rig.controller->show();
    rig.answerAll(S::missing);
    rig.controller->window()->showMinimized();
    const int probes = rig.probe->calls;
    for (const bool active : {true, false}) {
        active ? rig.controller->applicationDidBecomeActive() : rig.controller->applicationDidResignActive();
        EXPECT_FALSE(rig.controller->isVisible());
        EXPECT_FALSE(rig.checklist->isMonitoring());
        EXPECT_EQ(rig.probe->calls, probes);
    }
    rig.controller->window()->showNormal();
    rig.controller->applicationDidBecomeActive();
    EXPECT_TRUE(rig.controller->isVisible());
    EXPECT_TRUE(rig.checklist->isMonitoring());
    EXPECT_GT(rig.probe->calls, probes);
    rig.answerAll(S::missing);
    rig.controller->show(QStringLiteral("files"));
    rig.controller->finish(Outcome::done);
    EXPECT_TRUE(rig.outcomes.empty()) << "done before the grant is refused";
    QPointer<QWidget> window = rig.controller->window();
    window->close();
    EXPECT_EQ(rig.outcomes, std::vector<Outcome>{Outcome::later});
    EXPECT_FALSE(rig.checklist->isMonitoring());
    EXPECT_FALSE(rig.defaults.contains(PermissionChecklist::focusKey()));
    QTest::qWait(0);
    EXPECT_TRUE(window.isNull());
    rig.controller->show();
    rig.controller->finish(Outcome::later);
    EXPECT_EQ(rig.outcomes, (std::vector<Outcome>{Outcome::later, Outcome::later}));
    rig.controller->show();
    rig.answerAll(S::granted);  // the probe from before the close stores nothing
    rig.checklist->refreshAll();
    rig.answerAll(S::granted);
    rig.controller->finish(Outcome::done);
    EXPECT_EQ(rig.outcomes, (std::vector<Outcome>{Outcome::later, Outcome::later, Outcome::done}));
}

TEST(PermissionSetupController, HandOffAndEveryWayBack) {
    CompanionLog log;
    ControllerRig rig;
    rig.controller->show();
    rig.answerAll(S::missing);
    rig.checklist->openSettings(rig.item);
    EXPECT_TRUE(rig.controller->restoresOnActivation());
    EXPECT_FALSE(rig.controller->window()->isVisible()) << "hidden, not closed";
    ASSERT_NE(rig.controller->companion(), nullptr);
    EXPECT_FALSE(rig.checklist->isMonitoring()) << "nothing on screen while the settings are not in front";
    rig.desktop.settingsInFront();
    rig.controller->companion()->positionStep();
    EXPECT_TRUE(rig.controller->isCompanionVisible());
    EXPECT_TRUE(rig.checklist->isMonitoring());
    rig.checklist->openSettings(rig.item);
    rig.controller->applicationDidBecomeActive();
    EXPECT_EQ(rig.controller->companion(), nullptr);
    EXPECT_TRUE(rig.controller->window()->isVisible());
    const int presents = rig.presents;
    rig.checklist->openSettings(rig.item);
    rig.controller->companion()->content()->backButton()->click();
    rig.checklist->openSettings(rig.item);
    rig.controller->show();
    rig.opens = false;
    rig.checklist->openSettings(rig.item);
    rig.opens = true;
    rig.checklist->openSettings(rig.item);
    rig.controller->finish(Outcome::later);
    EXPECT_EQ(rig.presents, presents + 3);
    EXPECT_EQ(log.count("Close reason="), 6);
    for (const char* reason : {"handoff-replaced", "returned-to-app", "back-button", "checklist-shown",
                               "settings-open-failed", "setup-closed"})
        EXPECT_EQ(log.count(QStringLiteral("Close reason=%1 item=files").arg(QLatin1String(reason))), 1) << reason;
    rig.controller->applicationDidBecomeActive();  // no hand-off pending: nothing
    EXPECT_EQ(rig.presents, presents + 3);
}

// The desktop's companion is built at launch; only a hand-off needs the window list.
TEST(PermissionSetupController, AMissingWindowListIsToldOnlyWhenACompanionIsWanted) {
    CompanionLog told("PlatformDesktop.windows");
    {
        ControllerRig rig;
        rig.controller->setCompanionDependencies(CompanionPanel::Dependencies::system());
        EXPECT_TRUE(told.lines.isEmpty()) << qPrintable(told.lines.join('\n'));
        rig.controller->show();
        rig.answerAll(S::missing);
        rig.checklist->openSettings(rig.item);
        rig.checklist->openSettings(rig.item);
        EXPECT_EQ(rig.controller->companion(), nullptr);
        EXPECT_EQ(rig.dismisses, 0);
        EXPECT_TRUE(rig.controller->window()->isVisible());
        EXPECT_TRUE(rig.checklist->isMonitoring());
        EXPECT_TRUE(rig.controller->restoresOnActivation());
        rig.controller->applicationDidBecomeActive();
        EXPECT_FALSE(rig.controller->restoresOnActivation());
        rig.answerAll(S::missing);
        EXPECT_TRUE(rig.checklist->returnedWithoutSuccess().contains(QStringLiteral("files")))
            << "the return refreshed the checklist";
    }
    EXPECT_EQ(told.lines,
              QStringList{"Window list unsupported on platform offscreen: no companion beside the settings"});
    ControllerRig none(false);
    none.controller->show();
    none.answerAll(S::missing);
    none.checklist->openSettings(none.item);
    EXPECT_EQ(none.controller->companion(), nullptr) << "no companion at all";
    EXPECT_TRUE(none.controller->window()->isVisible());
}

// Completed version, current version, onboarding due, in progress, forced.
TEST(PermissionSetupState, WhenToPresent) {
    EXPECT_TRUE(PermissionSetupState::shouldPresent(5, 1, false, true, false));
    EXPECT_TRUE(PermissionSetupState::shouldPresent(5, 1, false, false, true));
    EXPECT_FALSE(PermissionSetupState::shouldPresent(0, 1, false, false, false));
    EXPECT_TRUE(PermissionSetupState::shouldPresent(0, 1, true, false, false));
    EXPECT_FALSE(PermissionSetupState::shouldPresent(1, 1, true, false, false));
}

struct PanelRig : FilesRig {
    std::vector<bool> visibility;
    std::unique_ptr<CompanionPanel> panel = std::make_unique<CompanionPanel>(
        *checklist, item, [] {}, [this](bool shown) { visibility.push_back(shown); }, desktop.dependencies());
};

TEST(CompanionPanel, FollowsTheSettingsWithReasonsAndDelaysUntilTheyExit) {
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
    rig.desktop.settingsInFront();
    rig.panel->positionStep();
    emit rig.desktop.workspace->terminated(QStringLiteral("firefox"));
    EXPECT_FALSE(rig.panel->isFinished());
    emit rig.desktop.workspace->terminated(QStringLiteral("gnome-control-center"));
    EXPECT_TRUE(rig.panel->isFinished());
    rig.panel->close(QStringLiteral("back-button"));
    emit rig.desktop.workspace->terminated(QStringLiteral("gnome-control-center"));
    EXPECT_EQ(log.count("Close reason="), 1);
    EXPECT_EQ(log.count("Close reason=settings-terminated item=files"), 1);
    EXPECT_EQ(rig.visibility, (std::vector<bool>{true, false, true, false, true, false}));
    rig.panel->start();
    EXPECT_EQ(rig.panel->window(), nullptr) << "a finished panel never starts again";
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
    EXPECT_EQ(rig.panel->positionStep(), 500ms);
    while (rig.desktop.wake(200ms)) {}
    EXPECT_EQ(rig.visibility.size(), 2u);
}

const QRectF screen(0, 0, 1440, 875);
const QSizeF panel(300, 400);

TEST(CompanionLayout, RightLeftClampedAndCut) {
    EXPECT_EQ(CompanionLayout::frame(QRectF(200, 100, 600, 500), screen, panel, 12), QRectF(812, 100, 300, 400));
    EXPECT_EQ(CompanionLayout::frame(QRectF(900, 100, 500, 500), screen, panel, 12), QRectF(588, 100, 300, 400));
    EXPECT_EQ(CompanionLayout::frame(QRectF(100, 700, 1300, 300), screen, panel, 12), QRectF(0, 475, 300, 400));
    EXPECT_EQ(CompanionLayout::frame(QRectF(200, 100, 600, 500), QRectF(0, 30, 800, 600), QSizeF(900, 700), 12),
              QRectF(0, 30, 800, 600));
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
