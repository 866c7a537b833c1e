#include "Kelto_Sync/Editor/JobDetailView.h"
#include "FenraCore/BusyIndicator.h"
#include "FenraSettings/SettingsRow.h"
#include "Kelto_Sync/Editor/SimpleWhenSection.h"
#include "Kelto_Sync/PreviewSheet.h"
#include "Kelto_Sync/internal/NameField.h"
#include "SyncAutomation/AppModelError.h"
#include "SyncAutomation/Async/ManualExecutor.h"
#include "tests/support/widgets/DrawnPanels.h"
#include "tests/support/widgets/TextContrast.h"
#include "tests/support/widgets/WidgetRender.h"
#include "tests/views/status/StatusFixtures.h"
#include <QAction>
#include <QDialog>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QStandardPaths>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <stdexcept>

namespace kelto {
namespace {

ValidationReport errors(std::vector<ValidationIssue> issues) { return ValidationReport{std::move(issues), {}}; }
ValidationReport warning(ValidationWarning w) { return ValidationReport{{}, {w}}; }
template <class E>
std::exception_ptr failure(E e) { return std::make_exception_ptr(std::move(e)); }

class JobDetailViewTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(QStringLiteral("KeltoEditorTests"));
    }
    void SetUp() override {
        QSettings().remove(QLatin1String(JobDetailView::advancedExpandedKey));
        job.source = endpoint("/home/ada/Pictures", VolumeKind::internal, "Home");
        job.destination = endpoint("/media/ada/Photos/Backup", VolumeKind::internal, "Photos");
        fake.setJobs({job});
    }
    void TearDown() override { QApplication::setPalette(before); }
    static void openAdvanced() { QSettings().setValue(QLatin1String(JobDetailView::advancedExpandedKey), true); }
    // Tests read keys; `app` shows the application's texts.
    std::unique_ptr<JobDetailView> make(const SyncJob& original, bool isNew = false, std::function<void()> onSaved = {},
                                        bool app = false) {
        JobDetailView::Services services{
            {{}, [](std::function<void()>) {}, nullptr}, {}, {}, &SystemClock::shared(), &timers};
        auto view = std::make_unique<JobDetailView>(adapter, original, isNew,
                                                    app ? SyncStrings::application() : SyncStrings(),
                                                    std::move(onSaved), nullptr, services);
        view->resize(640, 720);
        return view;
    }
    std::unique_ptr<JobDetailView> shown(bool app = false) {
        auto view = make(job, false, {}, app);
        view->show();
        return view;
    }
    void readable() { settle(), timers.advance(PreviewSheet::readingSeconds); }
    void answer(ValidationReport report = {}) { fake.answerValidation(std::move(report)), settle(); }
    void updated(Result<void> result = {}) { fake.answerUpdate(std::move(result)), settle(); }
    // Keys at the name's end, then the answer to the validation they started (or to one already out).
    void typed(JobDetailView& view, const QString& text, ValidationReport report = {}) {
        type(view, text);
        answer(std::move(report));
    }
    static void activeAndTyping(JobDetailView& view) {
        view.show();
        view.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
        view.nameField()->setFocus();
    }
    static void type(JobDetailView& view, const QString& text) {
        for (QChar c : text) QTest::keyClick(view.nameField(), c.toLatin1());
    }
    void park(const SyncPlan& plan = {}) { fake.setStatus(job.id, RunStatus::awaitingConfirmation(plan)); }
    static QPushButton* continueOf(PreviewSheet* sheet) { return sheet->findChild<QPushButton*>("continue"); }
    RunRecord needsReview(const char* message) const { return record(job, 0, RunOutcome::needsReview(message)); }
    const QPalette before = QApplication::palette();
    SyncJob job = SyncJob::newJob("Photos");
    FakeAppModel fake;
    AppModelAdapter adapter{fake};
    ManualClock clock;
    ManualExecutor timers{clock};
};

TEST_F(JobDetailViewTest, NewJobHasOnlyTheFormAndCreatesOnceValidated) {
    auto view = make(SyncJob::newJob(""), true);
    int dismissed = 0;
    QObject::connect(view.get(), &JobDetailView::dismissed, [&] { ++dismissed; });
    activeAndTyping(*view);
    EXPECT_TRUE(view->overviewTab() == nullptr && view->actionsButton() == nullptr && view->advancedGroup() == nullptr);
    EXPECT_FALSE(view->primaryButton()->isEnabled());
    QTest::keyClick(view->nameField(), Qt::Key_Return);
    answer(errors({ValidationIssue::emptyName, ValidationIssue::missingSource, ValidationIssue::missingDestination}));
    EXPECT_EQ(view->statusLabel()->text(), "validation.emptyName");
    EXPECT_TRUE(view->nameCaption()->isVisible());
    EXPECT_FALSE(view->progress()->isVisible() || view->primaryButton()->isEnabled());
    EXPECT_TRUE(labelWith(*view, "validation.missingSource") && labelWith(*view, "validation.missingDestination"));
    typed(*view, "A", warning(ValidationWarning::cloudFolder));  // warnings alone never block
    EXPECT_FALSE(view->statusLabel()->isVisible());
    EXPECT_TRUE(view->primaryButton()->isEnabled() && view->warningRows()->isVisible());
    EXPECT_EQ(view->warningRows()->findChildren<QWidget*>(QStringLiteral("warning")).size(), 1);
    view->secondaryButton()->click();
    EXPECT_EQ(dismissed, 1);
    EXPECT_TRUE(fake.pendingAdds.empty());
    QTest::keyClick(view->nameField(), Qt::Key_Return);
    EXPECT_EQ(fake.pendingAdds.size(), 1u);
    QTest::keyClick(view->nameField(), Qt::Key_Escape);
    EXPECT_EQ(dismissed, 2);
}

TEST_F(JobDetailViewTest, StatusMessagesEnablingAndResetOfAStoredJob) {
    auto view = shown();
    answer();
    EXPECT_FALSE(view->footer()->isVisible()) << "an unchanged job's overview has no footer";
    view->settingsTab()->click();
    EXPECT_TRUE(view->footer()->isVisible());
    EXPECT_FALSE(view->secondaryButton()->isEnabled() || view->primaryButton()->isEnabled());
    view->nameField()->selectAll();
    QTest::keyClick(view->nameField(), Qt::Key_Backspace);
    answer(errors({ValidationIssue::emptyName}));
    EXPECT_EQ(view->nameCaption()->text(), "validation.emptyName");
    view->overviewTab()->click();
    EXPECT_TRUE(view->nameCaption()->isVisible());
    view->settingsTab()->click();
    // A weekly trigger without weekdays blocks; a validation error wins.
    SyncJob weekly = job;
    weekly.triggers = {Trigger::weekly({}, {9, 0})};
    view->editDraft(weekly);
    answer();
    EXPECT_EQ(view->statusLabel()->text(), "Choose at least one weekday.");
    EXPECT_FALSE(view->primaryButton()->isEnabled());
    EXPECT_TRUE(view->secondaryButton()->isEnabled());
    typed(*view, "x", errors({ValidationIssue::nested}));
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
    EXPECT_FALSE(view->nameField()->isEnabled() || view->form()->isEnabled() || view->pauseAction()->isEnabled());
    EXPECT_FALSE(view->primaryButton()->isEnabled());
    view->secondaryButton()->click();
    EXPECT_EQ(view->draft(), job);
    SCOPED_TRACE("ResetAndTheAdvancedGroup");
    fake.setStatus(job.id, std::nullopt);
    job.triggers = {Trigger::daily({8, 0}), Trigger::every(2, IntervalUnit::hours)};
    job.options.ejectWhenDone = true;
    job.options.deleteGuardPercent = 5;
    job.filters.patterns = {"*.tmp"};
    fake.setJobs({job});
    view->settingsTab()->click();
    EXPECT_FALSE(view->advancedContent()->isVisible());
    const auto closedLook = DrawnPanels::of(*view->advancedToggle());
    // "Edit in Advanced" opens the group, and every later editor with it.
    view->whenSection()->editAdvancedButton()->click();
    EXPECT_TRUE(view->advancedContent()->isVisible());
    EXPECT_EQ(DrawnPanels::of(*view->advancedToggle()), closedLook) << "one look open or closed";
    EXPECT_TRUE(QSettings().value(QLatin1String(JobDetailView::advancedExpandedKey)).toBool());
    view->resetButton()->click();
    EXPECT_TRUE(view->draft().triggers.empty() && view->draft().filters.patterns.empty());
    EXPECT_EQ(view->draft().options, JobOptions::standard());
    EXPECT_EQ(view->advancedBadge()->text(), "0 custom");
    EXPECT_TRUE(fake.pendingUpdates.empty());
    SyncJob simple = job;
    simple.triggers = {Trigger::onConnect(ConnectAction::run), Trigger::daily({8, 0})};
    view->editDraft(simple);
    view->resetAdvanced();
    EXPECT_EQ(view->draft().triggers, simple.triggers);
}

TEST_F(JobDetailViewTest, SaveOutcomesAndAPauseThatStoresOnlyItsFlag) {
    int saved = 0;
    auto view = make(job, false, [&] { ++saved; });
    activeAndTyping(*view);
    answer();
    typed(*view, "2");
    QTest::keyClick(view->nameField(), Qt::Key_S, Qt::ControlModifier);
    EXPECT_FALSE(view->nameField()->isEnabled()) << "saving";
    updated(failure(std::runtime_error("The disk is full.")));
    EXPECT_EQ(view->errorLine()->text(), "The disk is full.");
    EXPECT_EQ(view->draft().name, "Photos2");
    view->primaryButton()->click();
    updated(failure(AppModelError::invalidJob(errors({ValidationIssue::missingSource}))));
    EXPECT_EQ(view->statusLabel()->text(), "validation.missingSource");
    EXPECT_FALSE(view->primaryButton()->isEnabled());
    EXPECT_EQ(saved, 0);
    typed(*view, "3");
    view->primaryButton()->click();
    updated();
    EXPECT_EQ(saved, 1);
    EXPECT_FALSE(view->errorLine()->isVisible() || view->hasChanges() || view->primaryButton()->isEnabled());
    view->overviewTab()->click();
    EXPECT_FALSE(view->footer()->isVisible());
    SCOPED_TRACE("PauseStoresOnlyTheFlagAndASaveCannotUndoIt");
    typed(*view, "!");
    view->pauseAction()->trigger();
    updated(failure(AppModelError::jobBusy()));
    EXPECT_TRUE(fake.jobs().front().isEnabled && view->draft().isEnabled);
    EXPECT_TRUE(view->errorLine()->isVisible());
    view->pauseAction()->trigger();
    ASSERT_EQ(fake.pendingUpdates.size(), 1u);
    EXPECT_EQ(fake.pendingUpdates.front().first.name, "Photos23");
    EXPECT_FALSE(view->primaryButton()->isEnabled() || view->pauseAction()->isEnabled());
    view->save();
    view->pauseAction()->trigger();
    EXPECT_EQ(fake.pendingUpdates.size(), 1u);
    updated();
    EXPECT_FALSE(fake.jobs().front().isEnabled || view->draft().isEnabled);
    EXPECT_EQ(view->draft().name, "Photos23!");
    EXPECT_TRUE(view->hasChanges());
    EXPECT_TRUE(view->errorLine()->isVisible()) << "the error stays until a save succeeds";
    answer();
    view->save();
    ASSERT_EQ(fake.pendingUpdates.size(), 1u);
    EXPECT_FALSE(fake.pendingUpdates.front().first.isEnabled);
    EXPECT_EQ(fake.pendingUpdates.front().first.name, "Photos23!");
    fake.setJobs({job});  // resumed from the job list: the draft follows and keeps its edits
    EXPECT_TRUE(view->draft().isEnabled);
    EXPECT_EQ(view->draft().name, "Photos23!");
}

TEST_F(JobDetailViewTest, ReviewAndPreviewSheets) {
    const auto shownReason = [](PreviewSheet* s) { return kelto::shown(*s, "reason") ? textOf(*s, "reason") : ""; };
    fake.setLastRecord(needsReview("Many files would be deleted."));
    park();
    auto view = shown();
    ASSERT_NE(view->sheet(), nullptr) << "parked before the editor was built: open at once";
    EXPECT_TRUE(view->sheet()->isReview() && view->sheet()->isModal());
    EXPECT_EQ(shownReason(view->sheet()), "Many files would be deleted.");
    readable();
    QPushButton* continueButton = continueOf(view->sheet());
    continueButton->click();
    continueButton->click();
    EXPECT_EQ(fake.confirmCalls.size(), 1u);
    EXPECT_EQ(view->sheet(), nullptr);
    SCOPED_TRACE("TheReviewSheetFollowsTheNewestRecord: a later review first shows the older reason, then its own");
    fake.setStatus(job.id, std::nullopt);
    SyncPlan first, second;
    first.archives = {PlannedArchive{"a.txt", Side::b}};
    second.archives = {PlannedArchive{"a.txt", Side::b}, PlannedArchive{"b.txt", Side::b}};
    park(first);
    ASSERT_NE(view->sheet(), nullptr);
    EXPECT_EQ(shownReason(view->sheet()), "Many files would be deleted.");
    fake.setLastRecord(needsReview("Most of the destination would be archived."));
    EXPECT_EQ(shownReason(view->sheet()), "Most of the destination would be archived.");
    EXPECT_TRUE(view->sheet()->isReview());
    SCOPED_TRACE("ContinueConfirmsThePlanItsSheetShowed");
    QPointer<QPushButton> older = continueOf(view->sheet());
    readable();
    park(second);
    ASSERT_TRUE(older);
    older->click();
    ASSERT_EQ(fake.confirmedPlans.size(), 2u);
    ASSERT_TRUE(fake.confirmedPlans[1]);
    EXPECT_EQ(*fake.confirmedPlans[1], first);
    SCOPED_TRACE("AReviewWhoseRunIsGoneNeverLooksApproved");
    fake.setStatus(job.id, std::nullopt);
    park();
    QPointer<PreviewSheet> sheet = view->sheet();
    ASSERT_TRUE(sheet);
    auto* withdrawn = continueOf(sheet);
    fake.setStatus(job.id, std::nullopt);
    ASSERT_EQ(view->sheet(), sheet.data()) << "the sheet stays open";
    EXPECT_TRUE(sheet->isWithdrawn());
    EXPECT_FALSE(withdrawn->isVisibleTo(sheet));
    EXPECT_TRUE(child<QLabel>(*sheet, "notice")->isVisibleTo(sheet));
    withdrawn->click();
    EXPECT_EQ(fake.confirmCalls.size(), 2u);
    readable();  // Sync again, where Continue stood, waits to be read too
    QTest::keyClick(sheet, Qt::Key_Return);
    EXPECT_EQ(fake.runNowCalls, std::vector<Uuid>{job.id});
    EXPECT_EQ(view->sheet(), nullptr);
    // Closed instead, it declines nothing.
    park();
    fake.setStatus(job.id, RunStatus::queued());
    ASSERT_NE(view->sheet(), nullptr);
    QTest::keyClick(view->sheet(), Qt::Key_Escape);
    EXPECT_EQ(view->sheet(), nullptr);
    EXPECT_TRUE(fake.declineCalls.empty());
    fake.setStatus(job.id, std::nullopt);
    park();
    QPointer<PreviewSheet> review = view->sheet();
    QTest::keyClick(review, Qt::Key_Escape);
    if (review) QTest::keyClick(review, Qt::Key_Escape);
    EXPECT_EQ(fake.declineCalls.size(), 1u);
    fake.setStatus(job.id, std::nullopt);
    answer();
    view->startPreview();
    fake.answerPreview(SyncPlan{});
    settle();
    ASSERT_NE(view->sheet(), nullptr);
    EXPECT_FALSE(view->sheet()->isReview());
    QTest::keyClick(view->sheet(), Qt::Key_Escape);
    EXPECT_EQ(view->sheet(), nullptr);
    view->startPreview();
    fake.answerPreview(failure(AppModelError::jobBusy()));
    settle();
    EXPECT_EQ(view->errorLine()->text(), QString::fromUtf8(AppModelError::jobBusy().what()));
    // Going away with a review open answers nothing.
    park();
    view.reset();
    settle();
    EXPECT_EQ(std::pair(fake.declineCalls.size(), fake.confirmCalls.size()), std::pair(1ul, 2ul));
}

// A review coming on screen where the user presses takes no press until it could be read; a held key is one press.
struct LateInput {
    const char* name;
    bool byMouse;  // "Sync again" clicked, else Return
    double after;  // seconds after the fresh review came on screen
    void (*press)(QWidget& sheet, QPushButton& continueButton);
    friend void PrintTo(const LateInput& input, std::ostream* out) { *out << input.name; }
};

class ReviewComingOnScreen : public JobDetailViewTest, public testing::WithParamInterface<LateInput> {};

TEST_P(ReviewComingOnScreen, TakesNoPressBeganBeforeItCouldBeRead) {
    auto view = shown();
    park();
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
    park();
    ASSERT_NE(view->sheet(), nullptr);
    settle();
    PreviewSheet& fresh = *view->sheet();
    auto* continueButton = continueOf(&fresh);
    timers.advance(GetParam().after);
    GetParam().press(fresh, *continueButton);
    EXPECT_TRUE(fake.confirmCalls.empty());
    EXPECT_EQ(continueButton->isEnabled(), GetParam().after >= PreviewSheet::readingSeconds) << "looks available";
    QTest::keyRelease(&fresh, Qt::Key_Return);
    timers.advance(PreviewSheet::readingSeconds);
    QTest::keyClick(&fresh, Qt::Key_Return);
    EXPECT_EQ(fake.confirmCalls.size(), 1u) << "a press once it could be read continues";
}

void returnKey(QWidget& sheet, QPushButton&) { QTest::keyClick(&sheet, Qt::Key_Return); }
INSTANTIATE_TEST_SUITE_P(
    JobDetailViewTest, ReviewComingOnScreen,
    testing::Values(LateInput{"secondReturnAfterAFifth", false, 0.2, returnKey},
                    LateInput{"secondReturnAfterAHalf", false, 0.5, returnKey},
                    LateInput{"doubleClicksSecondClick", true, 0.2,
                              [](QWidget&, QPushButton& button) { QTest::mouseClick(&button, Qt::LeftButton); }},
                    LateInput{"heldReturnRepeating", false, PreviewSheet::readingSeconds + 0.5,
                              [](QWidget& sheet, QPushButton&) {
                                  QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r", true);
                                  QApplication::sendEvent(&sheet, &repeat);
                              }},
                    // A held key repeated as a release and a press of one moment, unmarked.
                    LateInput{"heldReturnRepeatingUnmarked", false, PreviewSheet::readingSeconds + 0.5,
                              [](QWidget& sheet, QPushButton&) {
                                  for (const QEvent::Type type : {QEvent::KeyRelease, QEvent::KeyPress}) {
                                      QKeyEvent repeat(type, Qt::Key_Return, Qt::NoModifier, "\r");
                                      repeat.setTimestamp(4711);
                                      QApplication::sendEvent(&sheet, &repeat);
                                  }
                              }}),
    [](const testing::TestParamInfo<LateInput>& info) { return std::string(info.param.name); });

// The cursor stays at the name's end on opening, after the folder picker and through validations; a long name shows
// its beginning.
TEST_F(JobDetailViewTest, TheNameTakesKeysAtItsEndAndShowsItsBeginning) {
    QDialog sheet;
    auto* layout = new QVBoxLayout(&sheet);
    auto view = make(SyncJob::newJob("New job"), true);
    layout->addWidget(view.get());
    sheet.show();
    settle();
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
    // The keyboard brings the focus back as a dialog hands it on (the offscreen window is never active).
    QFocusEvent tabbedIn(QEvent::FocusIn, Qt::TabFocusReason);
    QApplication::sendEvent(name, &tabbedIn);
    settle();
    typingAtTheEnd();
    view.reset();
    fake.pendingValidations.clear();  // the new job's, now of no view
    job.name = "Photos of the long summer by the sea, every one of them, kept twice";
    fake.setJobs({job});
    auto stored = shown();
    stored->settingsTab()->setFocus();
    const QString shownText = dynamic_cast<const NameField&>(*stored->nameField()).shownText();
    EXPECT_TRUE(shownText.startsWith("Photos of the long") && shownText.endsWith(QChar(0x2026))) << shownText.toStdString();
    SCOPED_TRACE("ValidationKeepsOneRequestOutAndOnlyTheNewestReport");
    stored->settingsTab()->click();
    typed(*stored, "a", errors({ValidationIssue::missingSource}));  // of the name before the edit: dropped
    EXPECT_TRUE(stored->validation().errors.empty());
    ASSERT_EQ(fake.pendingValidations.size(), 1u);
    EXPECT_EQ(fake.pendingValidations.front().first.name, job.name + "a");
    for (int i = 0; i < 5; ++i) QTest::keyClick(stored->nameField(), 'b'), settle();  // nothing more sent meanwhile
    EXPECT_EQ(fake.pendingValidations.size(), 1u);
    answer();
    ASSERT_EQ(fake.pendingValidations.size(), 1u);
    EXPECT_EQ(fake.pendingValidations.front().first.name, job.name + "abbbbb");
    answer(errors({ValidationIssue::samePath}));
    EXPECT_EQ(stored->statusLabel()->text(), "validation.samePath");
    EXPECT_EQ(stored->validationsStarted(), 3);
    EXPECT_EQ(stored->nameField()->cursorPosition(), stored->nameField()->text().size()) << "text and cursor kept";
}

// The colour farthest from the field's own background: the ink of its text.
QRgb inkOf(QWidget& field) {
    const QImage image = field.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QRgb ground = image.pixel(1, 1);
    const auto away = [&](QRgb c) {
        return std::abs(qRed(c) - qRed(ground)) + std::abs(qGreen(c) - qGreen(ground)) + std::abs(qBlue(c) - qBlue(ground));
    };
    QRgb ink = ground;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (away(image.pixel(x, y)) > away(ink)) ink = image.pixel(x, y);
    return ink;
}

// Every text stands 4.5:1 from its ground, a running job's name reads as a label, and a live switch (also during a
// run) gives an editor made in the look.
TEST_F(JobDetailViewTest, TextsReadInBothLooksColoursFollowALiveSwitchAndTheFormFitsTheNarrowestWindow) {
    openAdvanced();
    job.triggers = {Trigger::onConnect(ConnectAction::ask), Trigger::daily(TimeOfDay{9, 0})};
    job.options.archiveEnabled = false;
    fake.setJobs({job});
    const RunRecord last = record(job, 0, RunOutcome::completedWithWarnings());
    fake.historySource = [last](const Uuid&) { return std::vector<RunRecord>{last}; };
    fake.setLastRecord(last);
    for (const WidgetRender::Look& look : WidgetRender::looks()) {
        for (const bool isNew : {false, true}) {
            SCOPED_TRACE(std::string(look.name) + (isNew ? " new" : ""));
            QApplication::setPalette(look.palette);
            auto view = make(isNew ? SyncJob::newJob("New job") : job, isNew, {}, true);
            view->resize(640, 2400);
            view->show();
            answer(warning(ValidationWarning::cloudFolder));
            for (int tab = isNew ? 1 : 0; tab < 2; ++tab) {
                if (tab == 1 && !isNew) view->settingsTab()->click();
                const auto findings = TextContrast::below(*view);
                EXPECT_TRUE(findings.empty()) << TextContrast::describe(findings).toStdString();
            }
            if (isNew) continue;
            SCOPED_TRACE("ARunningJobsNameReadsAsText: locked, it takes no keys and steps back into the window");
            QLineEdit* name = view->nameField();
            const QPoint empty(name->width() - 4, name->height() / 2);
            const QRgb idle = inkOf(*name), open = name->grab().toImage().pixel(empty);
            fake.setStatus(job.id, RunStatus::running({}));
            settle();
            ASSERT_FALSE(name->isEnabled());
            EXPECT_EQ(inkOf(*name), idle);
            QTest::keyClicks(name, QStringLiteral("xyz"));
            EXPECT_EQ(name->text(), QStringLiteral("Photos"));
            const QRgb locked = name->grab().toImage().pixel(empty);
            EXPECT_EQ(locked, name->parentWidget()->palette().color(QPalette::Window).rgb())
                << "steps back into the window";
            EXPECT_NE(open, locked) << "unlike the field that takes keys";
            fake.setStatus(job.id, std::nullopt);
        }
    }
    QApplication::setPalette(before);
    const auto opened = [&](bool settings) {
        auto view = shown(true);
        answer(ValidationReport{{ValidationIssue::missingSource}, {ValidationWarning::cloudFolder}});
        if (settings) view->settingsTab()->click();
        settle();
        return view;
    };
    for (const bool settings : {true, false}) {
        const auto differences =
            WidgetRender::lookSwitchDifferences([&]() -> std::unique_ptr<QWidget> { return opened(settings); });
        EXPECT_EQ(differences.join(u'\n').toStdString(), "") << (settings ? "settings" : "overview");
    }
    for (const auto& [from, to] : {std::pair{WidgetRender::lightPalette(), WidgetRender::darkPalette()},
                                   std::pair{WidgetRender::darkPalette(), WidgetRender::lightPalette()}}) {
        QApplication::setPalette(from);
        auto switched = opened(true);
        fake.setStatus(job.id, running(SyncPhase::transferring));
        QApplication::setPalette(to);
        settle();
        fake.setStatus(job.id, std::nullopt);
        EXPECT_EQ(WidgetRender::colourDifferences(*switched, *opened(true)).join(u'\n').toStdString(), "");
    }
    SCOPED_TRACE("TheFormFitsTheNarrowestWindowAndLinesUp");
    // At the window's minimum size, with a long warning and Advanced open, the form keeps within its width.
    for (const QLocale& locale : {QLocale::c(), QLocale(QLocale::English, QLocale::UnitedStates)}) {
        SCOPED_TRACE(locale.name().toStdString());
        auto view = make(job, false, {}, true);
        view->setLocale(locale);
        view->resize(760 - 260, 520);
        view->show();
        answer(warning(ValidationWarning::caseSensitivityMismatch));
        view->settingsTab()->click();
        settle();
        auto* form = view->findChild<QScrollArea*>(QStringLiteral("settings"));
        EXPECT_FALSE(form->horizontalScrollBar()->isVisible());
        EXPECT_LE(form->widget()->width(), form->viewport()->width());
        QWidget* content = view->advancedContent();
        const QPushButton* reset = view->resetButton();
        EXPECT_LE(reset->mapTo(content, QPoint(reset->width(), 0)).x(), content->width());
        const auto* resetRow = qobject_cast<const SettingsRow*>(reset->parentWidget());
        const auto* sectionRow = content->findChildren<SettingsRow*>().front();  // the Triggers section's first
        ASSERT_TRUE(resetRow != nullptr && sectionRow != resetRow);
        EXPECT_EQ(resetRow->mapTo(content, QPoint(0, 0)).x(), sectionRow->mapTo(content, QPoint(0, 0)).x());
        EXPECT_EQ(resetRow->width(), sectionRow->width());
    }
}

}  // namespace
}  // namespace kelto
