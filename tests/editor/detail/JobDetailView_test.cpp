#include "Kelto_Sync/AppModelAdapter.h"
#include "FenraCore/BusyIndicator.h"
#include "FenraSettings/SettingsRow.h"
#include "KeltoDesign/KeltoPrimaryButtonStyle.h"
#include "Kelto_Sync/Editor/JobDetailView.h"
#include "Kelto_Sync/Editor/SimpleWhenSection.h"
#include "Kelto_Sync/PreviewSheet.h"
#include "Kelto_Sync/internal/NameField.h"
#include "SyncAutomation/AppModelError.h"
#include "SyncAutomation/Async/ManualExecutor.h"
#include "tests/support/widgets/DrawnPanels.h"
#include "tests/support/widgets/TextContrast.h"
#include "tests/support/widgets/WidgetRender.h"
#include "tests/views/support/FakeAppModel.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QFocusEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <stdexcept>

namespace kelto {
namespace {

SyncJob storedJob() {
    SyncJob job = SyncJob::newJob("Photos");
    job.source.path = "/home/ada/Pictures";
    job.source.volume.name = "Home";
    job.destination.path = "/media/ada/Photos/Backup";
    job.destination.volume.name = "Photos";
    return job;
}

ValidationReport errors(std::vector<ValidationIssue> issues) { return ValidationReport{std::move(issues), {}}; }

class JobDetailViewTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(QStringLiteral("KeltoEditorTests"));
    }
    void SetUp() override {
        QSettings().remove(QLatin1String(JobDetailView::advancedExpandedKey));
        fake.setJobs({job});
    }

    // Tests read keys; renders show the application's texts.
    std::unique_ptr<JobDetailView> make(const SyncJob& original, bool isNew, std::function<void()> onSaved = {},
                                        SyncStrings strings = SyncStrings()) {
        JobDetailView::Services services{
            {{}, [](std::function<void()>) {}, nullptr}, {}, {}, &SystemClock::shared(), &timers};
        auto view = std::make_unique<JobDetailView>(adapter, original, isNew, strings, std::move(onSaved),
                                                    nullptr, services);
        view->resize(640, 720);
        return view;
    }
    // Answers reach the view through its event loop.
    static void settle() { QCoreApplication::processEvents(); }
    // The open review has been on screen long enough to be read.
    void readable() {
        settle();
        timers.advance(PreviewSheet::readingSeconds);
    }
    void answer(ValidationReport report = {}) {
        fake.answerValidation(std::move(report));
        settle();
    }
    void type(JobDetailView& view, const QString& text) {
        for (QChar c : text) QTest::keyClick(view.nameField(), c.toLatin1());
    }

    SyncJob job = storedJob();
    FakeAppModel fake;
    AppModelAdapter adapter{fake};
    ManualClock clock;
    ManualExecutor timers{clock};
};

TEST_F(JobDetailViewTest, NewJobHasOnlyTheFormAndCreatesOnceValidated) {
    SyncJob fresh = SyncJob::newJob("");
    auto view = make(fresh, true);
    view->show();
    EXPECT_EQ(view->overviewTab(), nullptr);
    EXPECT_EQ(view->actionsButton(), nullptr);
    EXPECT_EQ(view->advancedGroup(), nullptr);
    EXPECT_TRUE(view->form()->isVisible());
    EXPECT_TRUE(view->footer()->isVisible());
    EXPECT_EQ(view->statusLabel()->text(), "Validating folders…");
    EXPECT_TRUE(view->progress()->isVisible());
    EXPECT_FALSE(view->primaryButton()->isEnabled());
    EXPECT_EQ(view->primaryButton()->text(), "Create");
    EXPECT_TRUE(view->secondaryButton()->isEnabled());

    answer(errors({ValidationIssue::emptyName, ValidationIssue::missingSource}));
    EXPECT_EQ(view->statusLabel()->text(), "validation.emptyName");
    EXPECT_TRUE(view->nameCaption()->isVisible());
    EXPECT_FALSE(view->progress()->isVisible());
    EXPECT_FALSE(view->primaryButton()->isEnabled());

    type(*view, "A");
    answer(ValidationReport{{}, {ValidationWarning::cloudFolder}});
    // Warnings alone never block.
    EXPECT_FALSE(view->statusLabel()->isVisible());
    EXPECT_TRUE(view->primaryButton()->isEnabled());
    ASSERT_EQ(view->warningRows()->findChildren<QWidget*>(QStringLiteral("warning")).size(), 1);
    EXPECT_TRUE(view->warningRows()->isVisible());

    int dismissed = 0;
    QObject::connect(view.get(), &JobDetailView::dismissed, [&] { ++dismissed; });
    view->secondaryButton()->click();
    EXPECT_EQ(dismissed, 1);
    EXPECT_TRUE(fake.pendingAdds.empty());
}

TEST_F(JobDetailViewTest, StatusMessagesAndEnablingOfAStoredJob) {
    auto view = make(job, false);
    view->show();
    answer();
    // Overview of an unchanged job: no footer.
    EXPECT_TRUE(view->overview()->isVisible());
    EXPECT_FALSE(view->footer()->isVisible());
    view->settingsTab()->click();
    EXPECT_TRUE(view->form()->isVisible());
    EXPECT_TRUE(view->footer()->isVisible());
    EXPECT_FALSE(view->secondaryButton()->isEnabled());
    EXPECT_FALSE(view->primaryButton()->isEnabled());
    EXPECT_EQ(view->advancedBadge()->text(), "0 custom");

    // A weekly trigger without weekdays blocks; a validation error wins.
    SyncJob weekly = job;
    weekly.triggers = {Trigger::weekly({}, {9, 0})};
    view->editDraft(weekly);
    answer();
    EXPECT_EQ(view->statusLabel()->text(), "Choose at least one weekday.");
    EXPECT_FALSE(view->primaryButton()->isEnabled());
    EXPECT_TRUE(view->secondaryButton()->isEnabled());
    type(*view, "x");
    answer(errors({ValidationIssue::nested}));
    EXPECT_EQ(view->statusLabel()->text(), "validation.nested");

    // Every setting away from the preset: the badge stops at ten.
    SyncJob custom = view->draft();
    custom.options = JobOptions{false, std::nullopt, 5, 7, true, true};
    custom.filters.useDefaultExcludes = false;
    custom.filters.patterns = {"*.tmp"};
    custom.triggers = {Trigger::onConnect(ConnectAction::ask), Trigger::daily({1, 0}), Trigger::daily({2, 0})};
    view->editDraft(custom);
    EXPECT_EQ(view->advancedBadge()->text(), "10 custom");
    answer();

    // A run in progress outranks everything and locks the form.
    fake.setStatus(job.id, RunStatus::running({}));
    EXPECT_EQ(view->statusLabel()->text(), "A run is in progress.");
    EXPECT_FALSE(view->nameField()->isEnabled());
    EXPECT_FALSE(view->form()->isEnabled());
    EXPECT_FALSE(view->pauseAction()->isEnabled());
    EXPECT_EQ(view->pauseAction()->toolTip(), "Stop the current run before changing automatic runs.");
    EXPECT_TRUE(view->secondaryButton()->isEnabled());
    EXPECT_FALSE(view->primaryButton()->isEnabled());
    view->secondaryButton()->click();
    EXPECT_EQ(view->draft(), job);
}

TEST_F(JobDetailViewTest, EmptyNameCaptionOnBothTabs) {
    auto view = make(job, false);
    view->show();
    answer();
    view->nameField()->selectAll();
    QTest::keyClick(view->nameField(), Qt::Key_Backspace);
    answer(errors({ValidationIssue::emptyName}));
    EXPECT_TRUE(view->overview()->isVisible());
    EXPECT_TRUE(view->nameCaption()->isVisible());
    EXPECT_EQ(view->nameCaption()->text(), "validation.emptyName");
    EXPECT_EQ(view->statusLabel()->text(), "validation.emptyName");
    view->settingsTab()->click();
    EXPECT_TRUE(view->nameCaption()->isVisible());
}

TEST_F(JobDetailViewTest, ValidationKeepsOneRequestOutAndOnlyTheNewestReport) {
    auto view = make(job, false);
    view->show();
    view->settingsTab()->click();
    ASSERT_EQ(fake.pendingValidations.size(), 1u);
    type(*view, "a");
    // The first report arrives after the second edit: dropped, still validating.
    answer(errors({ValidationIssue::missingSource}));
    EXPECT_EQ(view->statusLabel()->text(), "Validating folders…");
    EXPECT_TRUE(view->validation().errors.empty());
    ASSERT_EQ(fake.pendingValidations.size(), 1u);
    EXPECT_EQ(fake.pendingValidations.front().first.name, "Photosa");

    // Twenty keystrokes while a request is out send nothing more.
    for (int i = 0; i < 20; ++i) {
        QTest::keyClick(view->nameField(), 'b');
        settle();
        EXPECT_LE(fake.pendingValidations.size(), 1u);
    }
    answer();
    ASSERT_EQ(fake.pendingValidations.size(), 1u);
    EXPECT_EQ(fake.pendingValidations.front().first.name, "Photosa" + std::string(20, 'b'));
    answer(errors({ValidationIssue::samePath}));
    EXPECT_TRUE(fake.pendingValidations.empty());
    EXPECT_EQ(view->statusLabel()->text(), "validation.samePath");
    EXPECT_EQ(view->validationsStarted(), 3);
    // The field kept its text and cursor through every refresh.
    EXPECT_EQ(view->nameField()->cursorPosition(), view->nameField()->text().size());
}

TEST_F(JobDetailViewTest, SaveOutcomes) {
    int saved = 0;
    auto view = make(job, false, [&] { ++saved; });
    view->show();
    answer();
    type(*view, "2");
    answer();
    view->primaryButton()->click();
    EXPECT_EQ(view->statusLabel()->text(), "Saving…");
    EXPECT_FALSE(view->nameField()->isEnabled());
    fake.answerUpdate(std::make_exception_ptr(std::runtime_error("The disk is full.")));
    settle();
    EXPECT_EQ(view->errorLine()->text(), "The disk is full.");
    EXPECT_EQ(view->draft().name, "Photos2");

    view->primaryButton()->click();
    fake.answerUpdate(std::make_exception_ptr(AppModelError::invalidJob(errors({ValidationIssue::missingSource}))));
    settle();
    EXPECT_EQ(view->statusLabel()->text(), "validation.missingSource");
    EXPECT_TRUE(view->errorLine()->isVisible());
    EXPECT_FALSE(view->primaryButton()->isEnabled());
    EXPECT_EQ(saved, 0);

    type(*view, "3");
    answer();
    view->primaryButton()->click();
    fake.answerUpdate();
    settle();
    EXPECT_EQ(saved, 1);
    EXPECT_FALSE(view->errorLine()->isVisible());
    EXPECT_FALSE(view->hasChanges());
    EXPECT_FALSE(view->primaryButton()->isEnabled());
    EXPECT_FALSE(view->secondaryButton()->isEnabled());
    view->overviewTab()->click();
    EXPECT_FALSE(view->footer()->isVisible());
}

TEST_F(JobDetailViewTest, PauseStoresOnlyTheFlag) {
    auto view = make(job, false);
    view->show();
    answer();
    type(*view, "!");
    view->pauseAction()->trigger();
    fake.answerUpdate(std::make_exception_ptr(AppModelError::jobBusy()));
    settle();
    EXPECT_TRUE(fake.jobs().front().isEnabled);
    EXPECT_TRUE(view->draft().isEnabled);
    EXPECT_EQ(view->draft().name, "Photos!");
    EXPECT_TRUE(view->errorLine()->isVisible());

    view->pauseAction()->trigger();
    ASSERT_EQ(fake.pendingUpdates.size(), 1u);
    EXPECT_EQ(fake.pendingUpdates.front().first.name, "Photos");
    fake.answerUpdate();
    settle();
    EXPECT_FALSE(fake.jobs().front().isEnabled);
    EXPECT_FALSE(view->draft().isEnabled);
    EXPECT_EQ(view->draft().name, "Photos!");
    EXPECT_TRUE(view->hasChanges());
    EXPECT_EQ(view->pauseAction()->text(), "Resume automatic runs");
    // The error stays until a save succeeds.
    EXPECT_TRUE(view->errorLine()->isVisible());

    // Resumed from the job list: the draft follows and keeps its edits.
    SyncJob resumed = job;
    resumed.isEnabled = true;
    fake.setJobs({resumed});
    EXPECT_TRUE(view->draft().isEnabled);
    EXPECT_EQ(view->draft().name, "Photos!");
}

TEST_F(JobDetailViewTest, ASaveCannotUndoAPauseOnItsWay) {
    auto view = make(job, false);
    view->show();
    answer();
    type(*view, "!");
    answer();
    ASSERT_TRUE(view->primaryButton()->isEnabled());
    view->pauseAction()->trigger();
    ASSERT_EQ(fake.pendingUpdates.size(), 1u);
    EXPECT_FALSE(view->primaryButton()->isEnabled());
    EXPECT_FALSE(view->pauseAction()->isEnabled());
    view->save();
    view->pauseAction()->trigger();
    EXPECT_EQ(fake.pendingUpdates.size(), 1u);

    fake.answerUpdate();
    settle();
    answer();
    ASSERT_TRUE(view->primaryButton()->isEnabled());
    view->save();
    ASSERT_EQ(fake.pendingUpdates.size(), 1u);
    EXPECT_FALSE(fake.pendingUpdates.front().first.isEnabled);
    EXPECT_EQ(fake.pendingUpdates.front().first.name, "Photos!");
}

TEST_F(JobDetailViewTest, ReviewAndPreviewSheets) {
    RunRecord record;
    record.jobID = job.id;
    record.outcome = RunOutcome::needsReview("Many files would be deleted.");
    fake.setLastRecord(record);
    fake.setStatus(job.id, RunStatus::awaitingConfirmation(SyncPlan{}));
    auto view = make(job, false);
    view->show();
    // Parked before the editor was built: the review is open at once.
    ASSERT_NE(view->sheet(), nullptr);
    EXPECT_TRUE(view->sheet()->isReview());
    EXPECT_TRUE(view->sheet()->isModal());
    EXPECT_EQ(view->reviewReason(), "Many files would be deleted.");
    QList<QLabel*> labels = view->sheet()->findChildren<QLabel*>();
    EXPECT_TRUE(std::any_of(labels.begin(), labels.end(),
                            [](QLabel* l) { return l->text() == "Many files would be deleted."; }));
    auto* continueButton = view->sheet()->findChild<QPushButton*>(QStringLiteral("continue"));
    ASSERT_NE(continueButton, nullptr);
    readable();
    continueButton->click();
    continueButton->click();
    EXPECT_EQ(fake.confirmCalls.size(), 1u);
    EXPECT_TRUE(fake.declineCalls.empty());
    EXPECT_EQ(view->sheet(), nullptr);

    // A second parked run; Escape declines once.
    fake.setStatus(job.id, std::nullopt);
    fake.setStatus(job.id, RunStatus::awaitingConfirmation(SyncPlan{}));
    ASSERT_NE(view->sheet(), nullptr);
    QPointer<PreviewSheet> review = view->sheet();
    QTest::keyClick(review, Qt::Key_Escape);
    if (review) QTest::keyClick(review, Qt::Key_Escape);
    EXPECT_EQ(fake.declineCalls.size(), 1u);
    EXPECT_EQ(fake.confirmCalls.size(), 1u);

    // A plain preview answers neither way.
    fake.setStatus(job.id, std::nullopt);
    answer();
    view->startPreview();
    fake.answerPreview(SyncPlan{});
    settle();
    ASSERT_NE(view->sheet(), nullptr);
    EXPECT_FALSE(view->sheet()->isReview());
    QTest::keyClick(view->sheet(), Qt::Key_Escape);
    EXPECT_EQ(view->sheet(), nullptr);
    EXPECT_EQ(fake.declineCalls.size(), 1u);
    EXPECT_EQ(fake.confirmCalls.size(), 1u);

    // A failed preview shows its text.
    view->startPreview();
    fake.answerPreview(std::make_exception_ptr(AppModelError::jobBusy()));
    settle();
    EXPECT_EQ(view->errorLine()->text(), QString::fromUtf8(AppModelError::jobBusy().what()));

    // Going away with a review open answers nothing.
    fake.setStatus(job.id, RunStatus::awaitingConfirmation(SyncPlan{}));
    ASSERT_NE(view->sheet(), nullptr);
    view.reset();
    settle();
    EXPECT_EQ(fake.declineCalls.size(), 1u);
    EXPECT_EQ(fake.confirmCalls.size(), 1u);
}

// The runner parks the run before its record reaches the model.
TEST_F(JobDetailViewTest, TheReviewSheetFollowsTheNewestRecord) {
    const auto shownReason = [](PreviewSheet* sheet) {
        auto* reason = sheet->findChild<QLabel*>(QStringLiteral("reason"));
        return reason != nullptr && reason->isVisibleTo(sheet) ? reason->text() : QString();
    };
    const auto needsReview = [this](const char* message) {
        RunRecord record;
        record.jobID = job.id;
        record.outcome = RunOutcome::needsReview(message);
        return record;
    };
    auto view = make(job, false);
    view->show();
    fake.setStatus(job.id, RunStatus::awaitingConfirmation(SyncPlan{}));
    ASSERT_NE(view->sheet(), nullptr);
    EXPECT_EQ(shownReason(view->sheet()), QString());
    fake.setLastRecord(needsReview("Many files would be deleted."));
    ASSERT_NE(view->sheet(), nullptr);
    EXPECT_EQ(shownReason(view->sheet()), "Many files would be deleted.");

    // A later review first shows the older reason, then its own.
    readable();
    view->sheet()->findChild<QPushButton*>(QStringLiteral("continue"))->click();
    fake.setStatus(job.id, std::nullopt);
    SyncPlan next;
    next.entryCountB = 7;
    fake.setStatus(job.id, RunStatus::awaitingConfirmation(next));
    ASSERT_NE(view->sheet(), nullptr);
    fake.setLastRecord(needsReview("Most of the destination would be archived."));
    EXPECT_EQ(shownReason(view->sheet()), "Most of the destination would be archived.");
    EXPECT_TRUE(view->sheet()->isReview());
}

// Continue confirms the plan its own sheet showed, never one parked after it.
TEST_F(JobDetailViewTest, ContinueConfirmsThePlanItsSheetShowed) {
    SyncPlan first, second;
    first.archives = {PlannedArchive{"a.txt", Side::b}};
    second.archives = {PlannedArchive{"a.txt", Side::b}, PlannedArchive{"b.txt", Side::b}};
    auto view = make(job, false);
    view->show();
    fake.setStatus(job.id, RunStatus::awaitingConfirmation(first));
    ASSERT_NE(view->sheet(), nullptr);
    QPointer<QPushButton> older = view->sheet()->findChild<QPushButton*>(QStringLiteral("continue"));
    readable();
    fake.setStatus(job.id, RunStatus::awaitingConfirmation(second));
    ASSERT_TRUE(older);  // a click already on its way
    older->click();
    ASSERT_EQ(fake.confirmedPlans.size(), 1u);
    ASSERT_TRUE(fake.confirmedPlans[0]);
    EXPECT_EQ(*fake.confirmedPlans[0], first);
}

// A review whose run was dropped elsewhere (the tray's stop, the notice's
// skip) stays open but never looks approved: it says the run no longer
// waits, offers "Close" and "Sync again" (Return), and answers nothing.
TEST_F(JobDetailViewTest, AReviewWhoseRunIsGoneNeverLooksApproved) {
    auto view = make(job, false);
    view->show();
    fake.setStatus(job.id, RunStatus::awaitingConfirmation(SyncPlan{}));
    QPointer<PreviewSheet> sheet = view->sheet();
    ASSERT_TRUE(sheet);
    auto* continueButton = sheet->findChild<QPushButton*>(QStringLiteral("continue"));
    fake.setStatus(job.id, std::nullopt);
    ASSERT_EQ(view->sheet(), sheet.data()) << "the sheet stays open";
    EXPECT_TRUE(sheet->isWithdrawn());
    EXPECT_FALSE(continueButton->isVisibleTo(sheet));
    EXPECT_TRUE(sheet->findChild<QLabel*>(QStringLiteral("notice"))->isVisibleTo(sheet));
    continueButton->click();
    EXPECT_TRUE(fake.confirmCalls.empty());
    readable();  // Sync again, where Continue stood, waits to be read too
    QTest::keyClick(sheet, Qt::Key_Return);
    EXPECT_EQ(fake.runNowCalls, std::vector<Uuid>{job.id});
    EXPECT_EQ(view->sheet(), nullptr);

    // Closed instead, it declines nothing.
    fake.setStatus(job.id, RunStatus::awaitingConfirmation(SyncPlan{}));
    fake.setStatus(job.id, RunStatus::queued());
    ASSERT_NE(view->sheet(), nullptr);
    QTest::keyClick(view->sheet(), Qt::Key_Escape);
    EXPECT_EQ(view->sheet(), nullptr);
    EXPECT_TRUE(fake.declineCalls.empty());
    EXPECT_TRUE(fake.confirmCalls.empty());
}

// A review that comes on screen where the user is pressing (here where
// "Sync again" stood) takes none of those presses: "Continue" waits until
// the review has been on screen long enough to be read, and a key held
// from before is one press however long it repeats.
struct LateInput {
    const char* name;
    bool byMouse;   // "Sync again" clicked, else Return
    double after;   // seconds after the fresh review came on screen
    void (*press)(QWidget& sheet, QPushButton& continueButton);
    friend void PrintTo(const LateInput& input, std::ostream* out) { *out << input.name; }
};

class ReviewComingOnScreen : public JobDetailViewTest, public testing::WithParamInterface<LateInput> {};

TEST_P(ReviewComingOnScreen, TakesNoPressBeganBeforeItCouldBeRead) {
    auto view = make(job, false);
    view->show();
    fake.setStatus(job.id, RunStatus::awaitingConfirmation(SyncPlan{}));
    readable();
    fake.setStatus(job.id, std::nullopt);
    auto* syncAgain = view->sheet()->findChild<QPushButton*>(QStringLiteral("syncAgain"));
    ASSERT_NE(syncAgain, nullptr);
    // Sync again stands where Continue stood: a press meant for that waits too.
    QTest::keyClick(view->sheet(), Qt::Key_Return);
    QTest::mouseClick(syncAgain, Qt::LeftButton);
    EXPECT_TRUE(fake.runNowCalls.empty());
    readable();
    GetParam().byMouse ? QTest::mouseClick(syncAgain, Qt::LeftButton) : QTest::keyPress(view->sheet(), Qt::Key_Return);
    ASSERT_EQ(fake.runNowCalls.size(), 1u);
    fake.setStatus(job.id, RunStatus::awaitingConfirmation(SyncPlan{}));
    ASSERT_NE(view->sheet(), nullptr);
    settle();
    PreviewSheet& fresh = *view->sheet();
    auto* continueButton = fresh.findChild<QPushButton*>(QStringLiteral("continue"));
    timers.advance(GetParam().after);
    GetParam().press(fresh, *continueButton);
    EXPECT_TRUE(fake.confirmCalls.empty());
    EXPECT_EQ(continueButton->isEnabled(), GetParam().after >= PreviewSheet::readingSeconds) << "looks available";

    QTest::keyRelease(&fresh, Qt::Key_Return);
    timers.advance(PreviewSheet::readingSeconds);
    QTest::keyClick(&fresh, Qt::Key_Return);
    EXPECT_EQ(fake.confirmCalls.size(), 1u) << "a press once it could be read continues";
}

INSTANTIATE_TEST_SUITE_P(
    JobDetailViewTest, ReviewComingOnScreen,
    testing::Values(
        LateInput{"secondReturnAfterAFifth", false, 0.2,
                  [](QWidget& sheet, QPushButton&) { QTest::keyClick(&sheet, Qt::Key_Return); }},
        LateInput{"secondReturnAfterAHalf", false, 0.5,
                  [](QWidget& sheet, QPushButton&) { QTest::keyClick(&sheet, Qt::Key_Return); }},
        LateInput{"doubleClicksSecondClick", true, 0.2,
                  [](QWidget&, QPushButton& button) { QTest::mouseClick(&button, Qt::LeftButton); }},
        LateInput{"heldReturnRepeating", false, PreviewSheet::readingSeconds + 0.5,
                  [](QWidget& sheet, QPushButton&) {
                      QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"), true);
                      QApplication::sendEvent(&sheet, &repeat);
                  }},
        // The window system repeats a held key as a release and a press of
        // one moment, which Qt does not always mark as repeats.
        LateInput{"heldReturnRepeatingUnmarked", false, PreviewSheet::readingSeconds + 0.5,
                  [](QWidget& sheet, QPushButton&) {
                      for (const QEvent::Type type : {QEvent::KeyRelease, QEvent::KeyPress}) {
                          QKeyEvent repeat(type, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
                          repeat.setTimestamp(4711);
                          QApplication::sendEvent(&sheet, &repeat);
                      }
                  }}),
    [](const testing::TestParamInfo<LateInput>& info) { return std::string(info.param.name); });

TEST_F(JobDetailViewTest, ResetAndTheAdvancedGroup) {
    job.triggers = {Trigger::daily({8, 0}), Trigger::every(2, IntervalUnit::hours)};
    job.options.ejectWhenDone = true;
    job.filters.patterns = {"*.tmp"};
    fake.setJobs({job});
    auto view = make(job, false);
    view->show();
    view->settingsTab()->click();
    EXPECT_FALSE(view->advancedContent()->isVisible());
    const auto closedLook = DrawnPanels::of(*view->advancedToggle());
    // "Edit in Advanced" opens the group, and every later editor with it.
    SimpleWhenSection* when = view->whenSection();
    ASSERT_NE(when->editAdvancedButton(), nullptr);
    when->editAdvancedButton()->click();
    EXPECT_TRUE(view->advancedContent()->isVisible());
    EXPECT_EQ(DrawnPanels::of(*view->advancedToggle()), closedLook) << "one look open or closed";
    EXPECT_TRUE(QSettings().value(QLatin1String(JobDetailView::advancedExpandedKey)).toBool());

    view->resetButton()->click();
    EXPECT_TRUE(view->draft().triggers.empty());
    EXPECT_FALSE(view->draft().options.ejectWhenDone);
    EXPECT_EQ(view->draft().options.archiveRetentionDays, 30);
    EXPECT_EQ(view->draft().options.deleteGuardPercent, 20);
    EXPECT_TRUE(view->draft().filters.patterns.empty());
    EXPECT_EQ(view->advancedBadge()->text(), "0 custom");
    EXPECT_TRUE(fake.pendingUpdates.empty());

    SyncJob simple = job;
    simple.triggers = {Trigger::onConnect(ConnectAction::run), Trigger::daily({8, 0})};
    view->editDraft(simple);
    view->resetAdvanced();
    EXPECT_EQ(view->draft().triggers, simple.triggers);
}

TEST_F(JobDetailViewTest, KeyboardShortcuts) {
    auto view = make(job, false);
    view->show();
    view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    answer();
    view->nameField()->setFocus();
    type(*view, "s");
    answer();
    QTest::keyClick(view->nameField(), Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(fake.pendingUpdates.size(), 1u);

    auto fresh = make(SyncJob::newJob("New"), true);
    int dismissed = 0;
    QObject::connect(fresh.get(), &JobDetailView::dismissed, [&] { ++dismissed; });
    fresh->show();
    fresh->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(fresh.get()));
    fresh->nameField()->setFocus();
    QTest::keyClick(fresh->nameField(), Qt::Key_Return);
    EXPECT_TRUE(fake.pendingAdds.empty());
    answer();
    QTest::keyClick(fresh->nameField(), Qt::Key_Return);
    EXPECT_EQ(fake.pendingAdds.size(), 1u);
    QTest::keyClick(fresh->nameField(), Qt::Key_Escape);
    EXPECT_EQ(dismissed, 1);
}

TEST_F(JobDetailViewTest, ALongWarningWrapsInsteadOfWideningTheForm) {
    auto view = make(job, false, {}, SyncStrings::application());
    view->show();
    answer(ValidationReport{{}, {ValidationWarning::caseSensitivityMismatch}});
    view->settingsTab()->click();
    QApplication::processEvents();
    auto* form = view->findChild<QScrollArea*>(QStringLiteral("settings"));
    ASSERT_NE(form, nullptr);
    EXPECT_FALSE(form->horizontalScrollBar()->isVisible());
    EXPECT_LE(form->widget()->width(), form->viewport()->width());
}

// In the main window at its minimum size, in the C and an English locale,
// the Settings form with the Advanced group open keeps within its width, and
// the reset row lines up with the rows of the sections above it.
TEST_F(JobDetailViewTest, TheAdvancedGroupFitsTheNarrowestWindowAndLinesUp) {
    QSettings().setValue(QLatin1String(JobDetailView::advancedExpandedKey), true);
    for (const QLocale& locale : {QLocale::c(), QLocale(QLocale::English, QLocale::UnitedStates)}) {
        SCOPED_TRACE(locale.name().toStdString());
        auto view = make(job, false, {}, SyncStrings::application());
        view->setLocale(locale);
        view->resize(760 - 260, 520);
        view->show();
        answer();
        view->settingsTab()->click();
        QApplication::processEvents();
        auto* form = view->findChild<QScrollArea*>(QStringLiteral("settings"));
        ASSERT_NE(form, nullptr);
        EXPECT_FALSE(form->horizontalScrollBar()->isVisible());
        EXPECT_LE(form->widget()->width(), form->viewport()->width());
        QWidget* content = view->advancedContent();
        const QPushButton* reset = view->resetButton();
        EXPECT_LE(reset->mapTo(content, QPoint(reset->width(), 0)).x(), content->width());
        const auto* resetRow = qobject_cast<const SettingsRow*>(reset->parentWidget());
        ASSERT_NE(resetRow, nullptr);
        const auto* sectionRow = content->findChildren<SettingsRow*>().front();  // the Triggers section's first
        ASSERT_NE(sectionRow, resetRow);
        EXPECT_EQ(resetRow->mapTo(content, QPoint(0, 0)).x(), sectionRow->mapTo(content, QPoint(0, 0)).x());
        EXPECT_EQ(resetRow->width(), sectionRow->width());
    }
}

TEST_F(JobDetailViewTest, CreateAndSaveAreTheProminentButtons) {
    for (const bool isNew : {true, false}) {
        auto view = make(isNew ? SyncJob::newJob("New") : job, isNew);
        const auto* primary = view->findChild<QPushButton*>(isNew ? QStringLiteral("create") : QStringLiteral("save"));
        ASSERT_NE(primary, nullptr);
        EXPECT_NE(qobject_cast<KeltoPrimaryButtonStyle*>(primary->style()), nullptr);
    }
}

// Every text of the editor, notes and descriptions included, stands at
// least 4.5:1 from what is behind it, in either look: on both tabs, with the
// Advanced group open and triggers the simple section lists as lines.
TEST_F(JobDetailViewTest, BodyTextReadsInBothLooks) {
    QSettings().setValue(QLatin1String(JobDetailView::advancedExpandedKey), true);
    job.triggers = {Trigger::onConnect(ConnectAction::ask), Trigger::daily(TimeOfDay{9, 0})};
    job.options.archiveEnabled = false;
    fake.setJobs({job});
    for (const WidgetRender::Look& look : WidgetRender::looks()) {
        SCOPED_TRACE(look.name);
        for (const bool isNew : {false, true}) {
            // The application's look, as the desktop's appearance sets it.
            QApplication::setPalette(look.palette);
            auto view = make(isNew ? SyncJob::newJob("New job") : job, isNew, {}, SyncStrings::application());
            view->resize(640, 2400);
            view->show();
            answer(ValidationReport{{}, {ValidationWarning::cloudFolder}});
            if (!isNew) {
                const auto overview = TextContrast::below(*view);
                EXPECT_TRUE(overview.empty()) << TextContrast::describe(overview).toStdString();
                view->settingsTab()->click();
            }
            const auto settings = TextContrast::below(*view);
            EXPECT_TRUE(settings.empty()) << TextContrast::describe(settings).toStdString();
        }
    }
    QApplication::setPalette(WidgetRender::lightPalette());
}

// Opening the new-job sheet, and coming back to the name from the folder
// picker, leave the name whole with the cursor at its end, so typing adds to
// it; a long name away from the keyboard shows its beginning.
TEST_F(JobDetailViewTest, TheNameTakesKeysAtItsEndAndShowsItsBeginning) {
    QDialog sheet;
    auto* layout = new QVBoxLayout(&sheet);
    auto view = make(SyncJob::newJob("New job"), true);
    layout->addWidget(view.get());
    sheet.show();
    QApplication::processEvents();
    QLineEdit* name = view->nameField();
    EXPECT_TRUE(name->hasFocus());
    const auto typingAtTheEnd = [&] {
        EXPECT_FALSE(name->hasSelectedText()) << name->selectedText().toStdString();
        EXPECT_EQ(name->cursorPosition(), name->text().size());
    };
    typingAtTheEnd();
    {
        QDialog picker(&sheet);
        QTimer::singleShot(0, &picker, &QDialog::accept);
        picker.exec();
    }
    // Back from the picker, the keyboard brings the focus to the field again
    // (sent as a dialog hands it on: the offscreen window is never active).
    QFocusEvent tabbedIn(QEvent::FocusIn, Qt::TabFocusReason);
    QApplication::sendEvent(name, &tabbedIn);
    QApplication::processEvents();
    typingAtTheEnd();
    QTest::keyClick(name, Qt::Key_S);
    EXPECT_EQ(name->text(), QStringLiteral("New jobs"));
    layout->removeWidget(view.get());
    view->setParent(nullptr);

    const QString longName = QStringLiteral("Photos of the long summer by the sea, every one of them, kept twice");
    job.name = longName.toStdString();
    fake.setJobs({job});
    auto stored = make(job, false);
    stored->show();
    stored->settingsTab()->setFocus();
    const auto* field = dynamic_cast<const NameField*>(stored->nameField());
    ASSERT_NE(field, nullptr);
    const QString shown = field->shownText();
    EXPECT_TRUE(shown.startsWith(QStringLiteral("Photos of the long"))) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith(QChar(0x2026))) << shown.toStdString();
}

// The colour farthest from the field's own background among its pixels:
// the ink of its text.
QColor inkOf(QWidget& field) {
    const QImage image = field.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QColor ground = image.pixelColor(1, 1);
    QColor ink = ground;
    int farthest = -1;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            const int distance = std::abs(c.red() - ground.red()) + std::abs(c.green() - ground.green()) +
                                 std::abs(c.blue() - ground.blue());
            if (distance > farthest) {
                farthest = distance;
                ink = c;
            }
        }
    }
    return ink;
}

// Locked while its job runs, the name reads as the name, in both looks.
TEST_F(JobDetailViewTest, ARunningJobsNameReadsAsText) {
    for (const WidgetRender::Look& look : WidgetRender::looks()) {
        SCOPED_TRACE(look.name);
        QApplication::setPalette(look.palette);
        auto view = make(job, false);
        view->resize(700, 500);
        view->show();
        answer();
        settle();
        ASSERT_TRUE(view->nameField()->isEnabled());
        const QColor idle = inkOf(*view->nameField());
        fake.setStatus(job.id, RunStatus::running({}));
        settle();
        ASSERT_FALSE(view->nameField()->isEnabled());
        EXPECT_EQ(inkOf(*view->nameField()), idle);
        fake.setStatus(job.id, std::nullopt);
    }
    QApplication::setPalette(WidgetRender::lightPalette());
}

TEST_F(JobDetailViewTest, Renders) {
    const auto save = [](QWidget& widget, const QString& name) {
        const QString path = WidgetRender::savePng(WidgetRender::image(widget, 2), name);
        ASSERT_FALSE(path.isEmpty()) << name.toStdString();
        EXPECT_GT(QFileInfo(path).size(), 0);
    };
    {
        auto fresh = make(SyncJob::newJob("New job"), true, {}, SyncStrings::application());
        fresh->show();
        answer(errors({ValidationIssue::missingSource, ValidationIssue::missingDestination}));
        save(*fresh, QStringLiteral("job-editor-new"));
        // The folder issue lines come in after the report: the render shows them.
        const SyncStrings strings = SyncStrings::application();
        for (const ValidationIssue issue : {ValidationIssue::missingSource, ValidationIssue::missingDestination}) {
            const QString line = strings.computed("validation.", issue, fresh->locale());
            const auto labels = fresh->findChildren<QLabel*>();
            EXPECT_TRUE(std::any_of(labels.begin(), labels.end(),
                                    [&](QLabel* label) { return label->text() == line && label->isVisible(); }))
                << line.toStdString();
        }
    }
    QSettings().setValue(QLatin1String(JobDetailView::advancedExpandedKey), true);
    auto view = make(job, false, {}, SyncStrings::application());
    view->show();
    answer(ValidationReport{{}, {ValidationWarning::caseSensitivityMismatch}});
    save(*view, QStringLiteral("job-editor-overview"));
    view->settingsTab()->click();
    save(*view, QStringLiteral("job-editor-settings"));
    SyncProgress progress;
    progress.phase = SyncPhase::transferring;
    progress.fraction = 0.4;
    fake.setStatus(job.id, RunStatus::running(progress));
    save(*view, QStringLiteral("job-editor-running"));
    fake.setStatus(job.id, RunStatus::awaitingConfirmation(SyncPlan{}));
    ASSERT_NE(view->sheet(), nullptr);
    view->sheet()->resize(PreviewSheet::minimumWidth, PreviewSheet::minimumHeight);
    save(*view->sheet(), QStringLiteral("job-editor-review"));
}

// The desktop switches between light and dark while an editor is open on
// its settings: every colour it shows is then the one it has when made in
// that look.
TEST_F(JobDetailViewTest, EveryColourFollowsALiveSwitchOfTheLook) {
    const auto differences = WidgetRender::lookSwitchDifferences([&]() -> std::unique_ptr<QWidget> {
        auto view = make(job, false, {}, SyncStrings::application());
        view->show();
        answer(ValidationReport{{ValidationIssue::missingSource}, {ValidationWarning::cloudFolder}});
        view->settingsTab()->click();
        return view;
    });
    EXPECT_EQ(differences.join(u'\n').toStdString(), "");
}

// A run disables the form: a switch of the look during the run leaves,
// once it ends, the colours the form has when made in the new look.
TEST_F(JobDetailViewTest, ColoursSwitchedDuringARunAreThoseOfTheLookAfterIt) {
    const QPalette before = QApplication::palette();
    SyncProgress progress;
    progress.phase = SyncPhase::transferring;
    for (const auto& [from, to] : {std::pair{WidgetRender::lightPalette(), WidgetRender::darkPalette()},
                                   std::pair{WidgetRender::darkPalette(), WidgetRender::lightPalette()}}) {
        const auto opened = [&] {
            auto view = make(job, false, {}, SyncStrings::application());
            view->show();
            answer();
            view->settingsTab()->click();
            settle();
            return view;
        };
        QApplication::setPalette(from);
        auto switched = opened();
        fake.setStatus(job.id, RunStatus::running(progress));
        QApplication::setPalette(to);
        settle();
        fake.setStatus(job.id, std::nullopt);
        auto made = opened();
        EXPECT_EQ(WidgetRender::colourDifferences(*switched, *made).join(u'\n').toStdString(), "");
    }
    QApplication::setPalette(before);
}

}  // namespace
}  // namespace kelto
