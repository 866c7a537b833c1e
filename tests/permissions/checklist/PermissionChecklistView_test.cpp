#include "tests/permissions/checklist/FakePermission.h"

#include "KeltoDesign/KeltoPrimaryButtonStyle.h"
#include "KeltoDesign/KeltoSecondaryButtonStyle.h"
#include "KeltoPermissions/PermissionChecklistView.h"
#include "KeltoPermissions/PermissionRow.h"
#include "KeltoPermissions/PermissionStatusLabel.h"
#include "tests/support/widgets/WidgetRender.h"

#include <QAccessible>
#include <QCoreApplication>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

namespace kelto {
namespace {

using test::ChecklistRig;
using test::FakeProbe;
using test::fakeItem;
using test::giveRequest;
using S = PermissionStatus;
using R = PermissionRequirement;

// Items with one probe each, so a test can answer any of them.
struct ViewRig : ChecklistRig {
    std::vector<std::shared_ptr<FakeProbe>> probes;
    std::unique_ptr<PermissionChecklist> checklist;
    int done = 0;
    int later = 0;

    PermissionItem add(const QString& id, R requirement) {
        probes.push_back(std::make_shared<FakeProbe>());
        PermissionItem item = fakeItem(id, requirement, probes.back());
        giveRequest(item, request);
        return item;
    }
    // An item whose only way is the settings' all-files page.
    PermissionItem disk() {
        PermissionItem item = add("disk", R::required);
        item.request = {};
        item.destination = SettingsDestination::privacy(PrivacyAnchor::allFiles);
        return item;
    }
    // Three items, one of each requirement, each confirmable by hand, with details that wrap.
    std::vector<PermissionItem> three(PermissionItem first) {
        std::vector<PermissionItem> items{first, add("login", R::recommended), add("notes", R::optional)};
        for (PermissionItem& item : items) {
            item.allowsManualConfirm = true;
            item.detail = QStringLiteral("A detail long enough to take two or three lines in a row of the list, "
                                         "so that it wraps at the list's width and not at a narrower one.");
        }
        return items;
    }
    void start(std::vector<PermissionItem> items) { checklist = make(std::move(items)); }
    void answer(const std::vector<S>& statuses) {
        checklist->refreshAll();
        for (std::size_t i = 0; i < statuses.size(); ++i) probes[i]->answer(statuses[i]);
    }
    std::unique_ptr<PermissionChecklistView> view() {
        return std::make_unique<PermissionChecklistView>(
            *checklist, PermissionChecklistView::Options{QStringLiteral("Set up Kelto Sync"), QStringLiteral("folder"),
                                                         TileTint::cobalt, {}, QStringLiteral("You can change these later."),
                                                         [this] { ++done; }, [this] { ++later; }});
    }
};

QString accessible(QWidget* widget, QAccessible::Text which) {
    return QAccessible::queryAccessibleInterface(widget)->text(which);
}

// The primary button goes to the first required item still to do, then to the recommended ones, never to an optional
// one; Return finishes only once every required item is granted. Rows name their status, show their request's error,
// and offer a hand confirmation only while unverifiable.
TEST(PermissionChecklistView, RowsFollowTheirRequirementsAndStatuses) {
    ViewRig rig;
    PermissionItem opt = rig.add("opt", R::optional), rec = rig.add("rec", R::recommended);
    PermissionItem req = rig.add("req", R::required);
    rec.presentation = PermissionPresentation::setting;
    req.allowsManualConfirm = true;
    req.requestState = std::make_shared<PermissionRequestState>(PermissionRequestState{QStringLiteral("No access.")});
    rig.start({opt, rec, req});
    auto view = rig.view();
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
    QTest::keyClick(view.get(), Qt::Key_Escape);
    EXPECT_EQ(rig.done, 1);
    EXPECT_EQ(rig.later, 1);
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
    rig.start({rig.add("a", R::required)});
    QWidget window;
    auto* scroll = new QScrollArea(&window);
    auto* view = rig.view().release();
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
    rig.start({rig.disk()});
    auto view = rig.view();
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
    // Back without the grant, the all-files row offers a restart, until its call to action is one.
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
    rig.start(items);
    auto view = rig.view();
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

// Every row can be reached: the list is whole in its box, or the box scrolls; every text is whole in its row; the
// box is no taller than the list, which lies on the panel with no fill of its own.
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

// The window is hidden while the settings are handed the user, and the
// checks go on: rows that grew or shrank meanwhile are measured again when it shows.
TEST(PermissionChecklistView, RowsChangedWhileHiddenAreMeasuredAgainWhenShown) {
    ViewRig rig;
    rig.start(rig.three(rig.disk()));
    auto view = rig.view();
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
    // The rows' other buttons are bordered, not the compact style whose fill is the row's.
    for (QPushButton* button :
         {view->row("login")->confirmButton(), view->row("notes")->ctaButton(), view->laterButton()})
        EXPECT_EQ(qobject_cast<KeltoSecondaryButtonStyle*>(button->style()), nullptr) << button->text().toStdString();
    EXPECT_NE(qobject_cast<KeltoPrimaryButtonStyle*>(view->doneButton()->style()), nullptr);
    showAgainAfter([&] { rig.answer({S::granted, S::granted, S::granted}); });
}

// Held at its height while its window is shown, the view keeps it as rows
// grow and shrink: the list takes the change, and "Done" stays put.
TEST(PermissionChecklistView, HeldAtAHeightItsButtonsStayPutAsRowsChange) {
    ViewRig rig;
    rig.start(rig.three(rig.add("disk", R::required)));
    auto view = rig.view();
    rig.answer({S::granted, S::granted, S::granted});
    view->show();
    WidgetRender::settle(*view);
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

}  // namespace
}  // namespace kelto
