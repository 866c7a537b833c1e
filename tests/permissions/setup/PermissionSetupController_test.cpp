#include "tests/permissions/checklist/FakePermission.h"
#include "tests/permissions/setup/FakeDesktop.h"

#include "KeltoPermissions/CompanionContent.h"
#include "KeltoPermissions/PermissionSetupController.h"
#include "KeltoPermissions/PermissionSetupState.h"

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

using test::ChecklistRig;
using test::CompanionLog;
using test::FakeDesktop;
using test::FakeProbe;
using Outcome = PermissionSetupOutcome;
using S = PermissionStatus;

struct ControllerRig : ChecklistRig {
    std::shared_ptr<FakeProbe> probe = std::make_shared<FakeProbe>();
    PermissionItem item = test::fakeItem("files", PermissionRequirement::required, probe);
    std::unique_ptr<PermissionChecklist> checklist;
    FakeDesktop desktop;
    std::vector<Outcome> outcomes;
    int presents = 0;
    int dismisses = 0;
    QSize viewSize{420, 360};
    std::unique_ptr<PermissionSetupController> controller;

    // The view is a label of `viewSize` unless `makeView` is given.
    explicit ControllerRig(bool companionSupported = true, PermissionSetupController::MakeView makeView = {}) {
        item.destination = SettingsDestination::privacy(PrivacyAnchor::allFiles);
        checklist = make({item});
        if (!makeView) {
            makeView = [this](PermissionSetupController&) {
                auto* view = new QLabel(QStringLiteral("checklist"));
                view->setMinimumSize(viewSize);
                return view;
            };
        }
        controller = std::make_unique<PermissionSetupController>(
            *checklist, std::move(makeView), QStringLiteral("Set up Kelto Sync"),
            [this](Outcome o) { outcomes.push_back(o); }, [this](QWidget& w) { ++presents, w.show(); },
            [this](QWidget& w) { ++dismisses, w.hide(); });
        controller->setCompanionDependencies(companionSupported ? std::optional(desktop.dependencies()) : std::nullopt);
    }
    // Unanswered probes hold the items, whose probes hold them: a cycle.
    ~ControllerRig() {
        controller.reset();
        probe->waiting.clear();
    }
    void answerAll(S status) {
        while (probe->answer(status)) {}
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

// A view of a fixed width, wider than its content asks for; a button at its right.
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

TEST(PermissionSetupController, OneWindowCappedAndFocusOnRequest) {
    ControllerRig rig;
    rig.controller->show();
    QWidget* window = rig.controller->window();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->windowType(), Qt::Dialog) << "kept above the window it is presented for";
    EXPECT_EQ(window->minimumSize(), window->maximumSize()) << "fixed size";
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE((window->geometry().center() - available.center()).manhattanLength(), 2) << "centred";
    EXPECT_TRUE(rig.checklist->isMonitoring());
    EXPECT_FALSE(rig.checklist->focusedItemID()) << "no identifier, no focus";
    rig.controller->show(QStringLiteral("files"));
    EXPECT_EQ(rig.controller->window(), window);
    EXPECT_EQ(rig.presents, 2);
    EXPECT_EQ(rig.checklist->focusedItemID(), QStringLiteral("files"));
    EXPECT_EQ(rig.defaults.value(PermissionChecklist::focusKey()).toString(), QStringLiteral("files"));
    ControllerRig tall;
    tall.viewSize = QSize(420, 5000);
    tall.controller->show();
    EXPECT_LT(tall.controller->window()->height(), available.height() - 24);
}

// The window shows all of a view of a fixed width, beside the scroll bar when capped.
TEST(PermissionSetupController, WindowFitsAFixedWidthView) {
    for (const int height : {300, 5000}) {
        SCOPED_TRACE(height);
        QPushButton* done = nullptr;
        ControllerRig rig(true, [&](PermissionSetupController&) {
            done = new QPushButton(QStringLiteral("Done"));
            return fixedWidthView({rowOf(height), done});
        });
        QWidget* window = rig.shown();
        auto* scroll = window->findChild<QScrollArea*>();
        ASSERT_NE(scroll, nullptr);
        EXPECT_GE(scroll->viewport()->width(), 560);
        EXPECT_LE(done->mapTo(scroll->viewport(), QPoint(done->width(), 0)).x(), scroll->viewport()->width())
            << "the right-aligned button is cut off";
    }
}

// The first statuses arrive just after the window opens and make rows taller: until the user reaches for the window it
// follows them; from the first move, press or key in it on it keeps its height. A pointer the window merely opened
// under has reached for nothing.
TEST(PermissionSetupController, TheWindowFollowsItsRowsUntilTheUserReachesIt) {
    std::vector<QWidget*> rows;
    ControllerRig rig(true, [&](PermissionSetupController&) {
        rows = {rowOf(300), rowOf(300, false), rowOf(300, false)};
        return fixedWidthView(rows);
    });
    const std::vector<std::pair<const char*, std::function<void(QWindow*)>>> inputs{
        {"move", [](QWindow* w) { QTest::mouseMove(w, QPoint(20, 20)); }},
        {"press", [](QWindow* w) { QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(30, 30)); }},
        {"key", [](QWindow* w) { QTest::keyClick(w, Qt::Key_Tab); }},
        {"enter alone", [](QWindow* w) {
             QEnterEvent enter(QPointF(20, 20), QPointF(20, 20), w->mapToGlobal(QPointF(20, 20)));
             QCoreApplication::sendEvent(w, &enter);
         }},
    };
    for (const auto& [name, input] : inputs) {
        SCOPED_TRACE(name);
        for (QWidget* row : rows) row->setVisible(row == rows.front());
        QWidget* window = rig.shown();
        const int opened = window->height();
        rows[1]->show();
        rig.settle();
        EXPECT_GE(window->height(), opened + 300) << "opened with a row out of view";
        EXPECT_TRUE(QGuiApplication::primaryScreen()->availableGeometry().contains(window->frameGeometry()))
            << "grew off the screen";
        input(window->windowHandle());
        rig.settle();
        const int reached = window->height();
        rows[2]->show();
        rig.settle();
        if (name == std::string("enter alone"))
            EXPECT_GT(window->height(), reached);
        else
            EXPECT_EQ(window->height(), reached) << "grew under the pointer";
        window->hide();
    }
}

// Held, a taller view scrolls and "Done" stays under the pointer; shown again, the window fits its view.
TEST(PermissionSetupController, TheWindowKeepsItsHeightWhileShownAndFitsItsViewWhenShownAgain) {
    QLabel* grown = nullptr;
    ControllerRig rig(true, [&](PermissionSetupController&) {
        return fixedWidthView({rowOf(20), grown = rowOf(200, false)});
    });
    QWidget* window = rig.shown();
    const int before = window->height();
    const auto scrolls = [&] { return window->findChild<QScrollArea*>()->verticalScrollBar()->isVisible(); };
    QTest::mouseMove(window->windowHandle(), QPoint(20, 20));  // the pointer in the window: the hold begins
    grown->show();
    rig.settle();
    EXPECT_EQ(window->height(), before) << "grew under the pointer";
    EXPECT_TRUE(scrolls());
    grown->hide();
    rig.settle();
    EXPECT_EQ(window->height(), before);
    grown->show();
    window->hide();
    window->show();
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->height() >= before + 200; }));
    rig.settle();
    EXPECT_FALSE(scrolls());
}

TEST(PermissionSetupController, LaterOnceAndDoneOnlyWhenAllowed) {
    ControllerRig rig;
    rig.controller->show(QStringLiteral("files"));
    rig.controller->finish(Outcome::done);
    EXPECT_TRUE(rig.outcomes.empty()) << "done before the grant is refused";
    // The close button reports later, once.
    QPointer<QWidget> window = rig.controller->window();
    window->close();
    EXPECT_EQ(rig.outcomes, std::vector<Outcome>{Outcome::later});
    EXPECT_FALSE(rig.checklist->isMonitoring());
    EXPECT_FALSE(rig.defaults.contains(PermissionChecklist::focusKey()));
    QTest::qWait(0);
    EXPECT_TRUE(window.isNull());
    // finish(later) closes the new window without a second report.
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

TEST(PermissionSetupController, ReturnRefreshesButNotWhileMinimised) {
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
}

TEST(PermissionSetupController, WithoutAWindowListTheChecklistStaysAndRefreshesOnReturn) {
    ControllerRig rig(false);
    rig.controller->show();
    rig.answerAll(S::missing);
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

// The desktop's companion is built at launch; only a hand-off needs the window list.
TEST(PermissionSetupController, AMissingWindowListIsToldOnlyWhenACompanionIsWanted) {
    static QStringList told;
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext& context, const QString& message) {
            if (context.category && QLatin1String(context.category) == QLatin1String("PlatformDesktop.windows"))
                told << message;
        });
    {
        ControllerRig rig;
        rig.controller->setCompanionDependencies(CompanionPanel::Dependencies::system());
        EXPECT_TRUE(told.isEmpty()) << qPrintable(told.join('\n'));
        rig.controller->show();
        rig.answerAll(S::missing);
        rig.checklist->openSettings(rig.item);
        rig.checklist->openSettings(rig.item);
        EXPECT_EQ(rig.controller->companion(), nullptr);
        EXPECT_TRUE(rig.controller->window()->isVisible());
    }
    qInstallMessageHandler(previous);
    EXPECT_EQ(told, QStringList{"Window list unsupported on platform offscreen: no companion beside the settings"});
}

// Completed version, current version, onboarding due, in progress, forced.
TEST(PermissionSetupState, WhenToPresent) {
    EXPECT_TRUE(PermissionSetupState::shouldPresent(5, 1, false, true, false));
    EXPECT_TRUE(PermissionSetupState::shouldPresent(5, 1, false, false, true));
    EXPECT_FALSE(PermissionSetupState::shouldPresent(0, 1, false, false, false));
    EXPECT_TRUE(PermissionSetupState::shouldPresent(0, 1, true, false, false));
    EXPECT_FALSE(PermissionSetupState::shouldPresent(1, 1, true, false, false));
}

}  // namespace
}  // namespace kelto
