#include "Kelto_Sync/AppModelAdapter.h"
#include "Kelto_Sync/Editor/JobDetailView.h"
#include "Kelto_Sync/Main/JobListView.h"
#include "Kelto_Sync/Main/JobSidebarRow.h"
#include "tests/support/widgets/WidgetRender.h"
#include "tests/views/main/MainFixtures.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QDialog>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>

#include <gtest/gtest.h>

#include <stdexcept>

namespace kelto {
namespace {

// Stands in for the job editor: remembers what it was made with.
struct FakeEditor : QWidget {
    FakeEditor(const SyncJob& original, bool isNew, std::function<void()> onSaved, QWidget* parent)
        : QWidget(parent), original(original), isNew(isNew), onSaved(std::move(onSaved)) {}
    SyncJob original;
    bool isNew;
    std::function<void()> onSaved;
};

struct JobListFixture : ::testing::Test {
    FakeAppModel fake;
    AppModelAdapter model{fake};
    FakeDotSources dots;
    std::vector<FakeEditor*> made;
    SyncJob photos = namedJob("Photos");
    SyncJob music = namedJob("Music", SyncMode::twoWay);

    std::unique_ptr<JobListView> makeView() {
        auto view = std::make_unique<JobListView>(
            model, SyncStrings{},
            [this](const SyncJob& original, bool isNew, std::function<void()> onSaved, QWidget* parent) {
                auto* editor = new FakeEditor(original, isNew, std::move(onSaved), parent);
                made.push_back(editor);
                return editor;
            },
            dots.sources());
        view->setLocale(english);
        view->show();
        settle();
        return view;
    }
    FakeEditor* shownEditor(const JobListView& view) { return dynamic_cast<FakeEditor*>(view.editor()); }
    QAbstractButton* button(QMessageBox* box, QMessageBox::ButtonRole role) {
        for (QAbstractButton* b : box->buttons()) {
            if (box->buttonRole(b) == role) return b;
        }
        return nullptr;
    }
};

TEST_F(JobListFixture, EmptyStateAndBothNewJobButtonsOpenTheSheetWithAFreshDefaultJob) {
    auto view = makeView();
    EXPECT_EQ(view->list()->count(), 0);
    EXPECT_TRUE(view->findChild<QWidget*>(QStringLiteral("emptyState"))->isVisible());
    EXPECT_FALSE(view->deleteButton()->isEnabled());

    std::optional<Uuid> firstID;
    for (const char* name : {"newJob", "emptyNewJob"}) {
        view->findChild<QPushButton*>(QLatin1String(name))->click();
        ASSERT_TRUE(view->newJobSheet());
        EXPECT_EQ(view->newJobSheet()->size(), QSize(560, 600));
        EXPECT_EQ(view->newJobSheet()->windowModality(), Qt::WindowModal);
        const FakeEditor* editor = made.back();
        EXPECT_TRUE(editor->isNew);
        EXPECT_EQ(editor->original.name, "New job");
        EXPECT_EQ(editor->original.mode, SyncMode::copy);
        EXPECT_EQ(editor->original.options, JobOptions::standard());
        EXPECT_NE(editor->original.id, firstID.value_or(Uuid::random()));
        firstID = editor->original.id;
        view->newJobSheet()->reject();
        settle();
    }
    EXPECT_FALSE(view->selection());
}

// The colour of an icon's most opaque pixel: the ink of its glyph.
QRgb inkOf(const QIcon& icon) {
    const QImage image = icon.pixmap(QSize(16, 16)).toImage().convertToFormat(QImage::Format_ARGB32);
    QRgb ink = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) > qAlpha(ink)) ink = image.pixel(x, y);
    return ink;
}

TEST_F(JobListFixture, ButtonIconsFollowTheDesktopSwitchingToDark) {
    const QPalette before = QApplication::palette();
    QApplication::setPalette(WidgetRender::lightPalette());
    auto view = makeView();
    auto* add = view->findChild<QPushButton*>(QStringLiteral("newJob"));
    const QRgb light = inkOf(add->icon());
    QApplication::setPalette(WidgetRender::darkPalette());
    settle();
    const QRgb dark = inkOf(add->icon());
    const QRgb deleteInk = inkOf(view->deleteButton()->icon());
    QApplication::setPalette(before);
    EXPECT_LT(qGray(light), 100);
    EXPECT_GT(qGray(dark), 160);
    EXPECT_GT(qGray(deleteInk), 160);
}

TEST_F(JobListFixture, CancelKeepsTheSelectionAndSaveSelectsTheNewJob) {
    fake.setJobs({photos});
    auto view = makeView();
    view->select(photos.id);
    ASSERT_NE(shownEditor(*view), nullptr);
    EXPECT_EQ(shownEditor(*view)->original.id, photos.id);
    EXPECT_FALSE(shownEditor(*view)->isNew);

    view->newJob();
    view->newJobSheet()->reject();
    settle();
    EXPECT_EQ(view->selection(), photos.id);

    view->newJob();
    FakeEditor* sheetEditor = made.back();
    SyncJob created = sheetEditor->original;
    fake.setJobs({photos, created});  // what the editor's save does
    sheetEditor->onSaved();
    settle();
    EXPECT_FALSE(view->newJobSheet());
    EXPECT_EQ(view->selection(), created.id);
    EXPECT_EQ(shownEditor(*view)->original.id, created.id);
    EXPECT_EQ(view->list()->currentRow(), 1);
}

TEST_F(JobListFixture, TheEditorIsKeptWhileItsJobStaysSelected) {
    fake.setJobs({photos, music});
    auto view = makeView();
    view->list()->setCurrentRow(0);
    FakeEditor* first = shownEditor(*view);
    SyncJob renamed = photos;
    renamed.name = "Pictures";
    fake.setJobs({renamed, music});
    EXPECT_EQ(shownEditor(*view), first);
    view->list()->setCurrentRow(1);
    EXPECT_EQ(shownEditor(*view)->original.id, music.id);
}

TEST_F(JobListFixture, ABusyJobCanBeNeitherDeletedNorPaused) {
    fake.setJobs({photos});
    auto view = makeView();
    view->select(photos.id);
    EXPECT_TRUE(view->deleteButton()->isEnabled());
    fake.setStatus(photos.id, RunStatus::queued());
    EXPECT_FALSE(view->deleteButton()->isEnabled());
    std::unique_ptr<QMenu> menu(view->contextMenu(photos, nullptr));
    QAction* pause = menu->actions().front();
    EXPECT_EQ(pause->text(), "Pause automatic runs");
    EXPECT_FALSE(pause->isEnabled());
    EXPECT_EQ(pause->toolTip(), "Stop the current run before changing automatic runs.");

    fake.setStatus(photos.id, std::nullopt);
    EXPECT_TRUE(view->deleteButton()->isEnabled());
    menu.reset(view->contextMenu(photos, nullptr));
    pause = menu->actions().front();
    EXPECT_TRUE(pause->isEnabled());
    EXPECT_EQ(pause->toolTip(), "Pause automatic runs");
    pause->trigger();
    ASSERT_EQ(fake.pendingUpdates.size(), 1u);
    EXPECT_FALSE(fake.pendingUpdates.front().first.isEnabled);
    fake.answerUpdate(std::make_exception_ptr(std::runtime_error("jobs file is read-only")));
    settle();
    ASSERT_TRUE(view->errorAlert());
    EXPECT_EQ(view->errorAlert()->informativeText(), "jobs file is read-only");
}

TEST_F(JobListFixture, PausingFromAMenuOpenedBeforeASaveKeepsTheSavedJob) {
    fake.setJobs({photos});
    auto view = makeView();
    std::unique_ptr<QMenu> menu(view->contextMenu(photos, nullptr));
    // The editor's save lands while the menu is open.
    SyncJob saved = photos;
    saved.name = "Pictures";
    saved.filters.patterns = {"*.tmp"};
    fake.setJobs({saved});
    menu->actions().front()->trigger();
    ASSERT_EQ(fake.pendingUpdates.size(), 1u);
    SyncJob expected = saved;
    expected.isEnabled = false;
    EXPECT_EQ(fake.pendingUpdates.front().first, expected);

    // A run that started while the menu was open stops the pause.
    fake.pendingUpdates.clear();
    menu.reset(view->contextMenu(saved, nullptr));
    fake.setStatus(saved.id, RunStatus::queued());
    menu->actions().front()->trigger();
    EXPECT_TRUE(fake.pendingUpdates.empty());
}

TEST_F(JobListFixture, ARequestedJobSetBeforeTheViewExistsIsSelectedAndCleared) {
    fake.setJobs({photos, music});
    fake.setRequestedJobID(music.id);
    auto view = makeView();
    EXPECT_EQ(view->selection(), music.id);
    EXPECT_FALSE(fake.requestedJobID());
    fake.setRequestedJobID(photos.id);
    EXPECT_EQ(view->selection(), photos.id);
    EXPECT_FALSE(fake.requestedJobID());
}

TEST_F(JobListFixture, SyncSkippedNamesTheReasonAndOkClearsTheSkip) {
    auto view = makeView();
    const std::pair<SkipReason, const char*> reasons[] = {
        {SkipReason::deviceNotConnected, "Device not connected"},
        {SkipReason::folderMissing, "Folder missing"},
        {SkipReason::identityMismatch, "Different disk"},
        {SkipReason::onBattery, "Running on battery"},
    };
    for (const auto& [reason, text] : reasons) {
        fake.setManualSkip(record(photos, 0, RunOutcome::skipped(reason)));
        ASSERT_TRUE(view->skipAlert());
        EXPECT_EQ(view->skipAlert()->text(), "Sync skipped");
        EXPECT_EQ(view->skipAlert()->informativeText(), text);
        button(view->skipAlert(), QMessageBox::AcceptRole)->click();
        settle();
        EXPECT_FALSE(fake.manualSkip());
        EXPECT_FALSE(view->skipAlert());
    }
}

TEST_F(JobListFixture, TheDeleteDialogDeletesTheJobItWasOpenedFor) {
    fake.setJobs({photos, music});
    auto view = makeView();
    view->select(photos.id);
    view->deleteButton()->click();
    ASSERT_TRUE(view->deleteDialog());
    EXPECT_EQ(view->deleteDialog()->text(), "Delete this job?");
    // A notification click selects another job while the dialog is open.
    fake.setRequestedJobID(music.id);
    EXPECT_EQ(view->selection(), music.id);
    button(view->deleteDialog(), QMessageBox::DestructiveRole)->click();
    ASSERT_EQ(fake.pendingDeletes.size(), 1u);
    EXPECT_EQ(fake.pendingDeletes.front().first, photos.id);
    fake.answerDelete();
    settle();
    EXPECT_EQ(view->selection(), music.id);

    view->deleteButton()->click();
    button(view->deleteDialog(), QMessageBox::DestructiveRole)->click();
    fake.answerDelete();
    settle();
    EXPECT_FALSE(view->selection());
}

TEST_F(JobListFixture, AFailedDeleteKeepsTheSelectionAndTheErrorAlertPrefersTheViewsError) {
    fake.setJobs({photos});
    fake.setErrorMessage("The jobs file could not be read.");
    auto view = makeView();
    ASSERT_TRUE(view->errorAlert());
    EXPECT_EQ(view->errorAlert()->text(), "Unable to complete action");
    EXPECT_EQ(view->errorAlert()->informativeText(), "The jobs file could not be read.");

    view->select(photos.id);
    view->confirmDelete();
    button(view->deleteDialog(), QMessageBox::DestructiveRole)->click();
    fake.answerDelete(std::make_exception_ptr(std::runtime_error("disk full")));
    settle();
    EXPECT_EQ(view->selection(), photos.id);
    EXPECT_EQ(view->errorAlert()->informativeText(), "disk full");
    button(view->errorAlert(), QMessageBox::AcceptRole)->click();
    settle();
    EXPECT_FALSE(fake.errorMessage());
    EXPECT_FALSE(view->errorAlert());
}

TEST(JobSidebarRowTest, ReadsAsNameThenCaptionAndMode) {
    FakeDotSources dots;
    JobSidebarRow row(namedJob("Photos"), std::nullopt, std::nullopt, SyncStrings{}, dots.sources());
    row.setLocale(english);
    QAccessibleInterface* node = QAccessible::queryAccessibleInterface(&row);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->text(QAccessible::Name), "Photos");
    EXPECT_EQ(node->text(QAccessible::Value), "Never run, Copy");
    EXPECT_EQ(row.toolTip(), "Photos \u2014 Copy");
    row.setValues(namedJob("Music", SyncMode::twoWay), RunStatus::queued(), std::nullopt);
    EXPECT_EQ(node->text(QAccessible::Value), "Queued, Two-way");
}

// The job list with the real editor: a new job's Cancel closes its sheet,
// Create stores the job and selects it.
TEST_F(JobListFixture, StandardEditorsCloseTheSheetOnCancelAndSelectTheCreatedJob) {
    fake.setJobs({photos});
    JobListView view(model, SyncStrings{}, JobListView::standardEditors(model, SyncStrings{}), dots.sources());
    view.setLocale(english);
    view.show();
    view.select(photos.id);
    settle();
    EXPECT_TRUE(qobject_cast<JobDetailView*>(view.editor()));

    view.newJob();
    QPointer<QDialog> sheet = view.newJobSheet();
    sheet->findChild<QPushButton*>(QStringLiteral("cancel"))->click();
    settle();
    EXPECT_TRUE(sheet.isNull() || !sheet->isVisible());
    EXPECT_EQ(view.selection(), photos.id);

    view.newJob();
    sheet = view.newJobSheet();
    while (!fake.pendingValidations.empty()) fake.answerValidation();
    settle();
    auto* create = sheet->findChild<QPushButton*>(QStringLiteral("create"));
    ASSERT_TRUE(create->isEnabled());
    create->click();
    ASSERT_EQ(fake.pendingAdds.size(), 1u);
    const Uuid created = fake.pendingAdds.front().first.id;
    fake.answerAdd();
    settle();
    EXPECT_EQ(view.selection(), created);
    EXPECT_TRUE(sheet.isNull() || !sheet->isVisible());
}

}  // namespace
}  // namespace kelto
