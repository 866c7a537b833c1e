#include "tests/permissions/checklist/FakePermission.h"

#include "KeltoDesign/KeltoPrimaryButtonStyle.h"
#include "KeltoDesign/KeltoSecondaryButtonStyle.h"
#include "KeltoPermissions/AppDragTile.h"
#include "KeltoPermissions/CompanionContent.h"
#include "KeltoPermissions/CompanionLayout.h"
#include "KeltoPermissions/PermissionChecklistView.h"
#include "KeltoPermissions/PermissionRow.h"
#include "KeltoPermissions/PermissionSetupController.h"
#include "KeltoPermissions/PermissionStatusLabel.h"
#include "Platform/Desktop/SettingsWindowGeometry.h"
#include "tests/support/widgets/WidgetRender.h"

#include <QAccessible>
#include <QApplication>
#include <QEnterEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QLayout>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
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
using R = PermissionRequirement;

const SettingsDestination allFiles = SettingsDestination::privacy(PrivacyAnchor::allFiles);

struct PermissionChecklistTest : testing::Test, ChecklistRig {};

// Nothing to ask and nowhere to go is no button; a used-up one-time request falls back to the destination, or none.
TEST_F(PermissionChecklistTest, CallToActionFollowsStatusRequestAndDestination) {
    PermissionItem both = fake("both"), onlyRequest = fake("onlyRequest");
    PermissionItem bare = fake("bare"), settings = fake("settings");
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
    checklist->perform("onlyRequest");
    EXPECT_EQ(request->calls, 2);
    for (S status : {S::missing, S::denied, S::needsApproval, S::unverifiable}) {
        all(status);
        EXPECT_EQ(ctas(), (std::vector{C::openSettings, C::none, C::none, C::openSettings, C::none}));
    }
    all(S::restartRequired);
    EXPECT_EQ(ctas()[2], C::restart);
    all(S::granted);
    EXPECT_EQ(ctas(), std::vector<C>(5, C::none));
}

TEST_F(PermissionChecklistTest, PerformRunsOnceAndHandsOffOrFailsCleanly) {
    PermissionItem asked = fake("asked"), pane = fake("pane");
    giveRequest(asked, request);
    asked.repeatsRequest = true;
    asked.requestState = std::make_shared<PermissionRequestState>();
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
    PermissionItem pane = fake("pane");
    pane.destination = allFiles;
    auto checklist = make({pane});
    refreshWith(*checklist, *probe, {S::missing});
    checklist->perform("pane");
    checklist->refreshAfterReturn();
    probe->answer(S::missing);
    EXPECT_EQ(checklist->returnedWithoutSuccess(), std::set<QString>{"pane"});
    refreshWith(*checklist, *probe, {S::granted});
    EXPECT_TRUE(checklist->returnedWithoutSuccess().empty());
    // A refresh probed before the grant must not count as a failed return.
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
    PermissionItem disk = fake("disk");
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
    auto again = make({disk, extra});
    EXPECT_EQ(again->confirmations(), std::set<QString>{"disk"});
    refreshWith(*again, *probe, {S::unverifiable, S::granted});
    EXPECT_TRUE(again->isManuallyConfirmed("disk"));
    auto optionalOnly = make({extra});
    EXPECT_EQ(optionalOnly->readiness(), (std::pair<qint64, qint64>{0, 0}));
    EXPECT_TRUE(optionalOnly->canFinish());
}

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
    checklist.reset();
    probe->answer(S::granted);  // a late answer to a gone checklist is dropped
}

struct CompanionRig : ItemRig {
    int backs = 0;

    explicit CompanionRig(std::optional<SettingsDestination> destination)
        : ItemRig(QStringLiteral("item"), std::move(destination)) {}
    std::unique_ptr<CompanionContent> content(AppInstallLocation::Kind location = AppInstallLocation::Kind::normal) {
        return std::make_unique<CompanionContent>(*checklist, item, QStringLiteral("/opt/kelto-sync"),
                                                  AppInstallLocation{location}, [this] { ++backs; });
    }
};

const QString review = QStringLiteral("Review this setting, then return to Kelto Sync.");
const QString moveHint = QStringLiteral("Move Kelto Sync to Applications and reopen it.");
const QString stillNot =
    QStringLiteral("Still not working? Select Kelto Sync, remove it with \u2212, then drag it in again.");

TEST(CompanionContent, StepsDragTileAndRestartFollowTheDestinationAndInstallLocation) {
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
        EXPECT_FALSE(moved->showFailedLabel()->isVisibleTo(moved.get()));
        shows = false;
        moved->showButton()->click();
        EXPECT_TRUE(moved->showFailedLabel()->isVisibleTo(moved.get()));
        EXPECT_TRUE(moved->showFailedPathLabel()->isVisibleTo(moved.get()));
        EXPECT_EQ(moved->showFailedPathLabel()->text(), QStringLiteral("/opt/kelto-sync"));
        EXPECT_TRUE(moved->showFailedPathLabel()->textInteractionFlags() & Qt::TextSelectableByMouse);
    }
    EXPECT_FALSE(normal->restartButton()->isVisibleTo(normal.get()));
    rig.answer(S::missing);
    rig.checklist->perform("item");
    rig.checklist->refreshAfterReturn();
    rig.probe->answer(S::missing);
    EXPECT_TRUE(normal->visibleTexts().contains(stillNot));
    EXPECT_TRUE(normal->restartButton()->isVisibleTo(normal.get()));
    normal->backButton()->click();
    EXPECT_EQ(rig.backs, 1);
    SCOPED_TRACE("other destinations only ask for a review, and a restart when required");
    for (const auto& destination : {std::optional(SettingsDestination::loginItems()),
                                    std::optional<SettingsDestination>()}) {
        CompanionRig other(destination);
        auto content = other.content();
        EXPECT_TRUE(content->visibleTexts().contains(review));
        EXPECT_EQ(content->dragTile(), nullptr);
        EXPECT_FALSE(content->restartButton()->isVisibleTo(content.get()));
        other.answer(S::restartRequired);
        ASSERT_TRUE(content->restartButton()->isVisibleTo(content.get()));
        EXPECT_FALSE(content->visibleTexts().contains(stillNot));
        content->restartButton()->click();
        EXPECT_EQ(other.terminations, 1);
        EXPECT_EQ(other.checklist->focusedItemID(), QStringLiteral("item"));
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

struct ViewRig : ChecklistRig {
    std::vector<std::shared_ptr<FakeProbe>> probes;
    std::unique_ptr<PermissionChecklist> checklist;
    int done = 0, later = 0;

    PermissionItem add(const QString& id, R requirement) {
        probes.push_back(std::make_shared<FakeProbe>());
        PermissionItem item = fakeItem(id, requirement, probes.back());
        giveRequest(item, request);
        return item;
    }
    PermissionItem disk() {
        PermissionItem item = add("disk", R::required);
        item.request = {};
        item.destination = SettingsDestination::privacy(PrivacyAnchor::allFiles);
        return item;
    }
    std::vector<PermissionItem> three(PermissionItem first) {
        std::vector<PermissionItem> items{first, add("login", R::recommended), add("notes", R::optional)};
        for (PermissionItem& item : items) {
            item.allowsManualConfirm = true;
            item.detail = QStringLiteral("A detail long enough to take two or three lines in a row of the list, "
                                         "so that it wraps at the list's width and not at a narrower one.");
        }
        return items;
    }
    void answer(const std::vector<S>& statuses) {
        checklist->refreshAll();
        for (std::size_t i = 0; i < statuses.size(); ++i) probes[i]->answer(statuses[i]);
    }
    std::unique_ptr<PermissionChecklistView> view(std::vector<PermissionItem> items) {
        checklist = make(std::move(items));
        return std::make_unique<PermissionChecklistView>(
            *checklist, PermissionChecklistView::Options{QStringLiteral("Set up Kelto Sync"), QStringLiteral("folder"),
                                                         TileTint::cobalt, {}, QStringLiteral("You can change these later."),
                                                         [this] { ++done; }, [this] { ++later; }});
    }
};

QString accessible(QWidget* widget, QAccessible::Text which) {
    return QAccessible::queryAccessibleInterface(widget)->text(which);
}

TEST(PermissionChecklistView, RowsFollowTheirRequirementsAndStatuses) {
    ViewRig rig;
    PermissionItem opt = rig.add("opt", R::optional), rec = rig.add("rec", R::recommended);
    PermissionItem req = rig.add("req", R::required);
    rec.presentation = PermissionPresentation::setting;
    req.allowsManualConfirm = true;
    req.requestState = std::make_shared<PermissionRequestState>(PermissionRequestState{QStringLiteral("No access.")});
    auto view = rig.view({opt, rec, req});
    EXPECT_EQ(view->headings(), (QStringList{"Required", "Recommended", "Optional"}));
    rig.answer({S::missing, S::missing, S::missing});
    EXPECT_EQ(PermissionChecklistView::nextItemID(*rig.checklist), QStringLiteral("req"));
    EXPECT_TRUE(view->row("req")->isProminent());
    EXPECT_FALSE(view->row("rec")->isProminent());
    EXPECT_EQ(view->progressLabel()->text(), QStringLiteral("0 of 2 ready"));
    EXPECT_FALSE(view->doneButton()->isEnabled());
    QTest::keyClick(view.get(), Qt::Key_Return);
    EXPECT_EQ(rig.done, 0);
    rig.answer({S::missing, S::missing, S::granted});
    EXPECT_TRUE(view->row("rec")->isProminent());
    EXPECT_FALSE(view->row("req")->ctaButton()->isVisibleTo(view->row("req")));
    EXPECT_EQ(view->progressLabel()->text(), QStringLiteral("1 of 2 ready"));
    EXPECT_TRUE(view->doneButton()->isEnabled());
    rig.answer({S::missing, S::granted, S::granted});
    EXPECT_EQ(PermissionChecklistView::nextItemID(*rig.checklist), std::nullopt);
    EXPECT_FALSE(view->row("opt")->isProminent());
    QTest::keyClick(view.get(), Qt::Key_Return);
    EXPECT_EQ(rig.done, 1);
    PermissionRow* recRow = view->row("rec");
    EXPECT_EQ(accessible(recRow, QAccessible::Name), "rec title, " + recRow->statusLabel()->title());
    EXPECT_EQ(accessible(recRow, QAccessible::Description), QStringLiteral("rec detail"));
    rig.answer({S::missing, S::missing, S::unverifiable});
    PermissionRow* reqRow = view->row("req");
    EXPECT_EQ(reqRow->errorLabel()->text(), QStringLiteral("No access."));
    ASSERT_TRUE(reqRow->confirmButton()->isVisibleTo(reqRow));
    const QString unconfirmed = reqRow->statusLabel()->title();
    reqRow->confirmButton()->click();
    EXPECT_NE(reqRow->statusLabel()->title(), unconfirmed);
    EXPECT_FALSE(reqRow->confirmButton()->isVisibleTo(reqRow));
}

// The keys reach the view from the moment its window opens, before any Tab.
TEST(PermissionChecklistView, EscapeInAFreshWindowSetsUpLater) {
    ViewRig rig;
    QWidget window;
    auto* scroll = new QScrollArea(&window);
    auto* view = rig.view({rig.add("a", R::required)}).release();
    EXPECT_EQ(view->headings(), QStringList{"Required"}) << "empty sections are left out";
    scroll->setWidget(view);
    window.resize(600, 400);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QTest::keyClick(window.windowHandle(), Qt::Key_Escape);
    EXPECT_EQ(rig.later, 1);
}

TEST(PermissionChecklistView, SettingsThatCannotOpenSayItInTheirRowUntilTheyOpen) {
    ViewRig rig;
    auto view = rig.view({rig.disk()});
    view->show();
    rig.answer({S::missing});
    PermissionRow* row = view->row("disk");
    rig.opens = false;
    row->ctaButton()->click();
    ASSERT_TRUE(row->errorLabel()->isVisibleTo(row));
    rig.answer({S::missing});
    EXPECT_TRUE(row->errorLabel()->isVisibleTo(row)) << "a refresh keeps it";
    EXPECT_FALSE(row->restartHintButton()->isVisibleTo(row));
    rig.opens = true;
    row->ctaButton()->click();
    EXPECT_FALSE(row->errorLabel()->isVisibleTo(row));
    rig.checklist->refreshAfterReturn();
    rig.probes[0]->answer(S::missing);
    ASSERT_TRUE(row->restartHintButton()->isVisibleTo(row));
    row->restartHintButton()->click();
    EXPECT_EQ(rig.terminations, 1);
    EXPECT_EQ(rig.make({})->focusedItemID(), QStringLiteral("disk")) << "the relaunched checklist comes back to it";
    rig.answer({S::restartRequired});
    EXPECT_FALSE(row->restartHintButton()->isVisibleTo(row));
}

TEST(PermissionChecklistView, ScrollsOnlyWhenTooTallAndCentresTheFocusedRow) {
    ViewRig rig;
    std::vector<PermissionItem> items;
    for (int i = 0; i < 8; ++i) {
        items.push_back(rig.add(QStringLiteral("item%1").arg(i), R::required));
        items.back().destination = SettingsDestination::loginItems();
    }
    auto view = rig.view(items);
    view->show();
    view->setListHeightLimit(2000);
    EXPECT_FALSE(view->listScrolls());
    view->setListHeightLimit(220);
    ASSERT_TRUE(view->listScrolls());
    rig.answer(std::vector<S>(8, S::denied));
    rig.checklist->perform("item5");
    ASSERT_EQ(rig.checklist->focusedItemID(), QStringLiteral("item5"));
    PermissionRow* row = view->row("item5");
    QWidget* viewport = view->scrollArea()->viewport();
    const int rowMiddle = row->mapTo(viewport, QPoint(0, row->height() / 2)).y();
    EXPECT_NEAR(rowMiddle, viewport->height() / 2, 1);
    EXPECT_GT(view->scrollArea()->verticalScrollBar()->value(), 0);
}

// Every row reachable, every text whole, no band below the list, no fill of its own.
void expectListFits(PermissionChecklistView& view) {
    QScrollArea* scroll = view.scrollArea();
    QWidget* list = scroll->widget();
    EXPECT_FALSE(list->autoFillBackground());
    const bool scrolls = scroll->verticalScrollBar()->isVisible();
    for (PermissionRow* row : list->findChildren<PermissionRow*>()) {
        const int bottom = row->mapTo(list, QPoint(0, row->height())).y();
        if (!scrolls) {
            EXPECT_LE(bottom, scroll->viewport()->height()) << row->accessibleName().toStdString();
        }
        for (QLabel* label : row->findChildren<QLabel*>()) {
            if (!label->isVisibleTo(row) || label->text().isEmpty()) continue;
            EXPECT_GE(label->height(), label->heightForWidth(label->width())) << label->text().toStdString();
            EXPECT_LE(label->mapTo(row, QPoint(0, label->height())).y(), row->height()) << label->text().toStdString();
        }
    }
    if (!scrolls) {
        EXPECT_LE(scroll->viewport()->height(), list->layout()->totalHeightForWidth(list->width())) << "empty band";
    }
}

// Hidden while the settings have the user, the checks go on.
TEST(PermissionChecklistView, RowsChangedWhileHiddenAreMeasuredAgainWhenShown) {
    ViewRig rig;
    auto view = rig.view(rig.three(rig.disk()));
    rig.answer({S::granted, S::granted, S::granted});
    view->show();
    WidgetRender::settle(*view);
    expectListFits(*view);
    EXPECT_FALSE(view->listScrolls()) << "shown at its own size";
    const auto showAgainAfter = [&](const std::function<void()>& change) {
        view->hide();
        change();
        view->show();
        WidgetRender::settle(*view);
        expectListFits(*view);
    };
    showAgainAfter([&] {
        rig.answer({S::missing, S::unverifiable, S::unverifiable});
        rig.opens = false;
        view->row("disk")->ctaButton()->click();
    });
    EXPECT_TRUE(view->row("disk")->errorLabel()->isVisible());
    // Bordered, not the compact style whose fill is the row's.
    for (QPushButton* button :
         {view->row("login")->confirmButton(), view->row("notes")->ctaButton(), view->laterButton()})
        EXPECT_EQ(qobject_cast<KeltoSecondaryButtonStyle*>(button->style()), nullptr) << button->text().toStdString();
    EXPECT_NE(qobject_cast<KeltoPrimaryButtonStyle*>(view->doneButton()->style()), nullptr);
    showAgainAfter([&] { rig.answer({S::granted, S::granted, S::granted}); });
    // Held at a height, its buttons stay put as rows change.
    const int height = view->height();
    view->holdHeight(height);
    WidgetRender::settle(*view);
    const QPoint done = view->doneButton()->mapTo(view.get(), QPoint(0, 0));
    rig.answer({S::unverifiable, S::unverifiable, S::unverifiable});
    WidgetRender::settle(*view);
    EXPECT_TRUE(view->row("disk")->isVisible());
    EXPECT_EQ(view->sizeHint().height(), height);
    EXPECT_EQ(view->doneButton()->mapTo(view.get(), QPoint(0, 0)), done) << "Done moved under the pointer";
    EXPECT_TRUE(view->listScrolls());
    view->holdHeight(std::nullopt);
    WidgetRender::settle(*view);
    EXPECT_GT(view->sizeHint().height(), height) << "let go, it fits its rows again";
}

struct FilesRig : ItemRig {
    FakeDesktop desktop;
    FilesRig() : ItemRig(QStringLiteral("files"), SettingsDestination::privacy(PrivacyAnchor::allFiles)) {}
};

QWidget* labelView(PermissionSetupController&) {
    auto* view = new QLabel(QStringLiteral("checklist"));
    view->setMinimumSize(420, 360);
    return view;
}

struct ControllerRig : FilesRig {
    std::vector<Outcome> outcomes;
    int presents = 0, dismisses = 0;
    std::unique_ptr<PermissionSetupController> controller;

    explicit ControllerRig(bool companionSupported = true, PermissionSetupController::MakeView makeView = labelView) {
        controller = std::make_unique<PermissionSetupController>(
            *checklist, std::move(makeView), QStringLiteral("Set up Kelto Sync"),
            [this](Outcome o) { outcomes.push_back(o); }, [this](QWidget& w) { ++presents, w.show(); },
            [this](QWidget& w) { ++dismisses, w.hide(); });
        controller->setCompanionDependencies(companionSupported ? std::optional(desktop.dependencies()) : std::nullopt);
    }
    void showMissing() {
        controller->show();
        answerAll(S::missing);
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

// The first statuses arrive just after the window opens; a pointer it merely opened under has reached for nothing.
TEST(PermissionSetupController, TheWindowFollowsItsRowsUntilTheUserReachesIt) {
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    std::vector<QWidget*> rows;
    QPushButton* done = nullptr;
    ControllerRig rig(true, [&](PermissionSetupController&) {
        rows = {rowOf(300), rowOf(300, false), rowOf(5000, false)};
        done = new QPushButton(QStringLiteral("Done"));
        return fixedWidthView({rows[0], rows[1], rows[2], done});
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
    QWidget* window = rig.shown();
    EXPECT_EQ(window->windowType(), Qt::Dialog) << "kept above the window it is presented for";
    EXPECT_EQ(window->minimumSize(), window->maximumSize()) << "fixed size";
    EXPECT_LE((window->geometry().center() - available.center()).manhattanLength(), 2) << "centred";
    EXPECT_TRUE(rig.checklist->isMonitoring());
    EXPECT_FALSE(rig.checklist->focusedItemID()) << "no identifier, no focus";
    rig.controller->show(QStringLiteral("files"));
    EXPECT_EQ(rig.controller->window(), window);
    EXPECT_EQ(rig.presents, 2);
    EXPECT_EQ(rig.checklist->focusedItemID(), QStringLiteral("files"));
    EXPECT_EQ(rig.defaults.value(PermissionChecklist::focusKey()).toString(), QStringLiteral("files"));
    window->hide();
    auto* scroll = window->findChild<QScrollArea*>();
    int reached = 0;
    for (const auto& [name, input] : inputs) {
        SCOPED_TRACE(name);
        for (QWidget* row : rows) row->setVisible(row == rows.front());
        window = rig.shown();
        const int opened = window->height();
        rows[1]->show();
        rig.settle();
        EXPECT_GE(window->height(), opened + 300) << "opened with a row out of view";
        EXPECT_TRUE(available.contains(window->frameGeometry())) << "grew off the screen";
        input(window->windowHandle());
        rig.settle();
        reached = window->height();
        rows[2]->show();
        rig.settle();
        if (name == std::string("enter alone")) {
            EXPECT_GT(window->height(), reached);
            EXPECT_LT(window->height(), available.height() - 24) << "taller than the screen";
            EXPECT_GE(scroll->viewport()->width(), 560);
            EXPECT_LE(done->mapTo(scroll->viewport(), QPoint(done->width(), 0)).x(), scroll->viewport()->width())
                << "the right-aligned button is cut off";
        } else {
            EXPECT_EQ(window->height(), reached) << "grew under the pointer";
            EXPECT_TRUE(scroll->verticalScrollBar()->isVisible());
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
    rig.showMissing();
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
    rig.showMissing();
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
    EXPECT_EQ(log.lines.filter("Close reason=").replaceInStrings(QRegularExpression("^Close reason=| item=files$"), ""),
              (QStringList{"handoff-replaced", "returned-to-app", "back-button", "checklist-shown",
                           "settings-open-failed", "setup-closed"}));
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
        rig.showMissing();
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
    none.showMissing();
    none.checklist->openSettings(none.item);
    EXPECT_EQ(none.controller->companion(), nullptr) << "no companion at all";
    EXPECT_TRUE(none.controller->window()->isVisible());
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
    EXPECT_EQ(log.lines.filter("Close reason="), QStringList{"Close reason=settings-terminated item=files"});
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
