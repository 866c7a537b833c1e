#include "Kelto_Sync/AlertBox.h"
#include "Kelto_Sync/AppModelAdapter.h"
#include "Kelto_Sync/Editor/JobDetailView.h"
#include "Kelto_Sync/Main/JobListView.h"
#include "SyncAutomation/AppModelError.h"
#include "tests/views/main/MainFixtures.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace kelto {
namespace {

// Every way a job's draft is left, in the main window and in the new-job
// sheet, against every answer to the question a changed draft asks.
enum class Way { otherRow, requestedJob, createdJob, windowClosed, quit, sheetEscape, sheetCancel, sheetClosed };
enum class Answer { unchanged, save, saveRejected, discard, stay };

const char* name(Way way) {
    constexpr const char* names[] = {"otherRow", "requestedJob", "createdJob",  "windowClosed",
                                     "quit",     "sheetEscape",  "sheetCancel", "sheetClosed"};
    return names[static_cast<int>(way)];
}
const char* name(Answer answer) {
    constexpr const char* names[] = {"unchanged", "save", "saveRejected", "discard", "stay"};
    return names[static_cast<int>(answer)];
}

struct LeavingADraft : ::testing::TestWithParam<std::tuple<Way, Answer>> {
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
        for (QWidget* shown : QApplication::topLevelWidgets()) {
            if (auto* box = dynamic_cast<AlertBox*>(shown); box != nullptr && box->isVisible()) return box;
        }
        return nullptr;
    }
    static void click(AlertBox& box, QMessageBox::ButtonRole role) {
        for (QAbstractButton* button : box.buttons()) {
            if (box.buttonRole(button) == role) return button->click();
        }
        FAIL() << "no button of role " << role;
    }
    std::optional<Uuid> created;
    bool quitting = false;
    void leave(Way way) {
        switch (way) {
        case Way::otherRow: return view->list()->setCurrentRow(1);
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
    const auto [way, answer] = GetParam();
    if (inSheet()) {
        view->newJob();
        sheet = view->newJobSheet();
    }
    JobDetailView* edited = editor();
    const SyncJob before = edited->draft();
    SyncJob draft = before;
    draft.name += " (edited)";
    if (answer != Answer::unchanged) edited->editDraft(draft);
    for (settle(); !fake.pendingValidations.empty(); settle()) fake.answerValidation();

    leave(way);
    settle();
    AlertBox* asked = question();
    if (answer == Answer::unchanged) {
        EXPECT_EQ(asked, nullptr);
        EXPECT_TRUE(left(way));
        return;
    }
    ASSERT_NE(asked, nullptr) << "left without a word";
    EXPECT_FALSE(left(way));

    const auto stored = [&] { return inSheet() ? fake.pendingAdds : fake.pendingUpdates; };
    switch (answer) {
    case Answer::save:
    case Answer::saveRejected:
        click(*asked, QMessageBox::AcceptRole);
        ASSERT_EQ(stored().size(), 1u);
        EXPECT_EQ(stored().front().first, draft);
        if (answer == Answer::save) {
            inSheet() ? fake.answerAdd() : fake.answerUpdate();
            settle();
            EXPECT_TRUE(left(way));
            return;
        }
        {
            const auto rejected = std::make_exception_ptr(
                AppModelError::invalidJob(ValidationReport{{ValidationIssue::missingSource}, {}}));
            inSheet() ? fake.answerAdd(rejected) : fake.answerUpdate(rejected);
        }
        settle();
        EXPECT_FALSE(left(way));
        ASSERT_EQ(editor(), edited);
        EXPECT_EQ(edited->draft(), draft);
        EXPECT_EQ(edited->statusMessage(), "validation.missingSource");
        EXPECT_TRUE(edited->statusLabel()->isVisible());
        return;
    case Answer::discard:
        click(*asked, QMessageBox::DestructiveRole);
        settle();
        EXPECT_TRUE(left(way));
        EXPECT_TRUE(fake.pendingUpdates.empty());
        EXPECT_TRUE(fake.pendingAdds.empty());
        return;
    case Answer::stay:
        click(*asked, QMessageBox::RejectRole);
        settle();
        EXPECT_FALSE(left(way));
        ASSERT_EQ(editor(), edited);
        EXPECT_EQ(edited->draft(), draft);
        EXPECT_TRUE(stored().empty());
        if (!inSheet()) {
            EXPECT_EQ(view->list()->currentRow(), 0) << "the list shows the job still edited";
        }
        return;
    case Answer::unchanged:
        return;
    }
}

INSTANTIATE_TEST_SUITE_P(
    EveryWay, LeavingADraft,
    ::testing::Combine(::testing::Values(Way::otherRow, Way::requestedJob, Way::createdJob, Way::windowClosed,
                                         Way::quit, Way::sheetEscape, Way::sheetCancel, Way::sheetClosed),
                       ::testing::Values(Answer::unchanged, Answer::save, Answer::saveRejected, Answer::discard,
                                         Answer::stay)),
    [](const auto& info) {
        return std::string(name(std::get<0>(info.param))) + "_" + name(std::get<1>(info.param));
    });

}  // namespace
}  // namespace kelto
