#include "Kelto_Sync/AlertBox.h"
#include "Kelto_Sync/Editor/JobDetailView.h"
#include "Kelto_Sync/Main/JobListView.h"
#include "SyncAutomation/AppModelError.h"
#include "tests/views/status/StatusFixtures.h"
#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QVBoxLayout>

namespace kelto {
namespace {

// Every way a job's draft is left, in the main window and in the new-job
// sheet, against every answer to the question a changed draft asks.
enum class Way { otherRow, requestedJob, createdJob, windowClosed, quit, sheetEscape, sheetCancel, sheetClosed };
constexpr const char* wayNames[] = {"otherRow", "requestedJob", "createdJob",  "windowClosed",
                                    "quit",     "sheetEscape",  "sheetCancel", "sheetClosed"};

struct Reply {
    const char* name;
    std::optional<QMessageBox::ButtonRole> button;  // none: the draft is unchanged and nothing asks
    bool stores;
    bool rejected;  // the model turns the save down as invalid
    bool leaves;
};
const Reply replies[] = {
    {"unchanged", std::nullopt, false, false, true},
    {"save", QMessageBox::AcceptRole, true, false, true},
    {"saveRejected", QMessageBox::AcceptRole, true, true, false},
    {"discard", QMessageBox::DestructiveRole, false, false, true},
    {"stay", QMessageBox::RejectRole, false, false, false},
};

struct LeavingADraft : ::testing::TestWithParam<std::tuple<Way, int>> {
    FakeAppModel fake;
    AppModelAdapter model{fake};
    FakeDotSources dots;
    SyncJob photos = namedJob("Photos");
    SyncJob music = namedJob("Music");
    QWidget window;
    JobListView* view = nullptr;
    QPointer<QDialog> sheet;
    void SetUp() override {
        fake.setJobs({photos, music});
        view = new JobListView(model, SyncStrings{}, JobListView::standardEditors(model, SyncStrings{}), dots.sources());
        view->setLocale(english);
        (new QVBoxLayout(&window))->addWidget(view);
        window.show();
        view->select(photos.id);
        settle();
    }
    bool inSheet() const { return std::get<0>(GetParam()) >= Way::sheetEscape; }
    JobDetailView* editor() const {
        return inSheet() ? sheet->findChild<JobDetailView*>() : qobject_cast<JobDetailView*>(view->editor());
    }
    static AlertBox* question() {
        for (QWidget* shown : QApplication::topLevelWidgets())
            if (auto* box = dynamic_cast<AlertBox*>(shown); box != nullptr && box->isVisible()) return box;
        return nullptr;
    }
    static void click(AlertBox& box, QMessageBox::ButtonRole role) {
        ASSERT_NE(button(&box, role), nullptr) << "no button of role " << role;
        button(&box, role)->click();
        settle();
    }
    void editName(JobDetailView& edited, SyncJob& draft) {
        draft.name += " (edited)";
        edited.editDraft(draft);
        for (settle(); !fake.pendingValidations.empty(); settle()) fake.answerValidation();
    }
    std::optional<Uuid> created;
    bool quitting = false;
    void leave(Way way) {
        switch (way) {
        case Way::otherRow: {
            QListWidget* list = view->list();
            return QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(1)).center());
        }
        case Way::requestedJob: return fake.setRequestedJobID(music.id);
        case Way::createdJob: {
            view->newJob();
            auto* fresh = view->newJobSheet()->findChild<JobDetailView*>();
            created = fresh->draft().id;
            fresh->save();
            return fake.answerAdd();
        }
        case Way::windowClosed: window.close(); return;
        case Way::quit: return view->leaveDrafts([this] { quitting = true; });
        case Way::sheetEscape: return QTest::keyClick(editor()->nameField(), Qt::Key_Escape);
        case Way::sheetCancel: return editor()->secondaryButton()->click();
        case Way::sheetClosed: sheet->close(); return;
        }
    }
    bool left(Way way) const {
        switch (way) {
        case Way::otherRow:
        case Way::requestedJob: return view->selection() == music.id && view->list()->currentRow() == 1;
        case Way::createdJob: return view->selection() == created;
        case Way::windowClosed: return !window.isVisible();
        case Way::quit: return quitting;
        default: return sheet.isNull() || !sheet->isVisible();
        }
    }
};

TEST_P(LeavingADraft, AsksToSaveDiscardOrStayUnlessUnchanged) {
    const Way way = std::get<0>(GetParam());
    const Reply& reply = replies[std::get<1>(GetParam())];
    if (inSheet()) {
        view->newJob();
        sheet = view->newJobSheet();
    }
    JobDetailView* edited = editor();
    SyncJob draft = edited->draft();
    if (reply.button) editName(*edited, draft);
    for (settle(); !fake.pendingValidations.empty(); settle()) fake.answerValidation();
    leave(way);
    settle();
    AlertBox* asked = question();
    ASSERT_EQ(asked != nullptr, reply.button.has_value()) << "only a changed draft asks";
    if (asked != nullptr) {
        EXPECT_FALSE(left(way)) << "before the answer";
        click(*asked, *reply.button);
    }
    const auto& stored = inSheet() ? fake.pendingAdds : fake.pendingUpdates;
    ASSERT_EQ(stored.size(), reply.stores ? 1u : 0u);
    if (reply.stores) {
        EXPECT_EQ(stored.front().first, draft);
        Result<void> answer;
        const ValidationReport missing{{ValidationIssue::missingSource}, {}};
        if (reply.rejected) answer = std::make_exception_ptr(AppModelError::invalidJob(missing));
        inSheet() ? fake.answerAdd(answer) : fake.answerUpdate(answer);
        settle();
    }
    EXPECT_EQ(left(way), reply.leaves);
    if (reply.leaves) return;
    ASSERT_EQ(editor(), edited);
    EXPECT_EQ(edited->draft(), draft);
    if (!inSheet()) {
        EXPECT_EQ(view->list()->currentRow(), 0) << "the list shows the job still edited";
        EXPECT_EQ(view->list()->selectedItems(), QList{view->list()->item(0)});
    }
    if (reply.rejected) {
        EXPECT_EQ(edited->statusMessage(), "validation.missingSource") << "the failure shows";
    }
}

struct PausedDraft : LeavingADraft {};
TEST_F(PausedDraft, ASaveChosenWhileAPauseIsOnItsWayFollowsItsAnswer) {
    auto* edited = qobject_cast<JobDetailView*>(view->editor());
    SyncJob draft = edited->draft();
    editName(*edited, draft);
    edited->toggleAutomaticRuns();
    leave(Way::otherRow);
    settle();
    ASSERT_NE(question(), nullptr);
    click(*question(), QMessageBox::AcceptRole);
    ASSERT_EQ(fake.pendingUpdates.size(), 1u);  // the pause alone
    fake.answerUpdate();
    settle();
    ASSERT_EQ(fake.pendingUpdates.size(), 1u);
    draft.isEnabled = !draft.isEnabled;
    EXPECT_EQ(fake.pendingUpdates.front().first, draft);
    fake.answerUpdate();
    settle();
    EXPECT_TRUE(left(Way::otherRow));
}

INSTANTIATE_TEST_SUITE_P(EveryWay, LeavingADraft,
                         ::testing::Combine(::testing::Values(Way::otherRow, Way::requestedJob, Way::createdJob,
                                                              Way::windowClosed, Way::quit, Way::sheetEscape,
                                                              Way::sheetCancel, Way::sheetClosed),
                                            ::testing::Range(0, 5)),
                         [](const auto& info) {
                             return std::string(wayNames[static_cast<int>(std::get<0>(info.param))]) + "_" +
                                    replies[std::get<1>(info.param)].name;
                         });

}  // namespace
}  // namespace kelto
