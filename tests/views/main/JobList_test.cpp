#include "FenraCore/WindowPlacement.h"
#include "Kelto_Sync/AlertBox.h"
#include "Kelto_Sync/Editor/JobDetailView.h"
#include "Kelto_Sync/Main/JobListView.h"
#include "Kelto_Sync/Main/JobSidebarRow.h"
#include "Kelto_Sync/Tray/MenuBarContent.h"
#include "SyncAutomation/AppModelError.h"
#include "tests/support/widgets/WidgetRender.h"
#include "tests/views/status/StatusFixtures.h"
#include <QAccessible>
#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QTextDocumentFragment>
#include <QToolButton>
#include <QVBoxLayout>
#include <stdexcept>

namespace kelto {
namespace {

void press(QMessageBox* box, QMessageBox::ButtonRole role) {
    ASSERT_NE(button(box, role), nullptr) << "no button of role " << role;
    button(box, role)->click();
    settle();
}

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
    void deleted(Result<void> result = {}) { fake.answerDelete(std::move(result)), settle(); }
};

// The grey of an icon's most opaque pixel: the ink of its glyph.
int inkOf(const QAbstractButton* button) { return qGray(iconInk(button->icon(), QSize(16, 16)).rgb()); }

TEST_F(JobListFixture, EmptyStateAndBothNewJobButtonsOpenTheSheetWithAFreshDefaultJobInEitherLook) {
    auto view = makeView();
    EXPECT_TRUE(shown(*view, "emptyState"));
    EXPECT_FALSE(view->deleteButton()->isEnabled());
    std::optional<Uuid> firstID;
    for (const char* name : {"newJob", "emptyNewJob"}) {
        button(*view, name)->click();
        ASSERT_TRUE(view->newJobSheet());
        EXPECT_EQ(view->newJobSheet()->windowModality(), Qt::WindowModal);
        EXPECT_EQ(view->newJobSheet()->windowTitle(), "New job") << "not the application's name alone";
        EXPECT_TRUE(made.back()->isNew);
        EXPECT_NE(made.back()->original.id, firstID.value_or(Uuid::random()));
        firstID = made.back()->original.id;
        view->newJobSheet()->reject();
        settle();
    }
    EXPECT_FALSE(view->selection());
    for (const std::vector<SyncJob>& jobs : {std::vector<SyncJob>{}, std::vector<SyncJob>{photos, music}}) {
        fake.setJobs(jobs);
        const auto differences = WidgetRender::lookSwitchDifferences([&]() -> std::unique_ptr<QWidget> {
            auto made = makeView();
            if (!jobs.empty()) made->list()->setCurrentRow(0);
            settle();
            return made;
        });
        EXPECT_EQ(differences.join(u'\n').toStdString(), "") << jobs.size() << " jobs: a live switch of the look";
    }
    SCOPED_TRACE("ButtonIconsFollowTheDesktopSwitchingToDark");
    fake.setJobs({});
    const QPalette before = QApplication::palette();
    QApplication::setPalette(WidgetRender::lightPalette());
    auto lit = makeView();
    EXPECT_LT(inkOf(button(*lit, "newJob")), 100);
    QApplication::setPalette(WidgetRender::darkPalette());
    settle();
    EXPECT_GT(std::min(inkOf(button(*lit, "newJob")), inkOf(lit->deleteButton())), 160);
    QApplication::setPalette(before);
    SCOPED_TRACE("JobSidebarRowTest.ReadsAsNameCaptionAndModeWithTileAndDotInsideTheInset");
    dots.warning = true;
    JobSidebarRow row(photos, std::nullopt, std::nullopt, SyncStrings{}, dots.sources());
    row.setLocale(english);
    row.resize(232, row.height());
    row.show();
    dots.runAll();
    auto* dot = row.findChild<DeviceDot*>();
    ASSERT_GT(dot->width(), 0);
    EXPECT_LE(dot->geometry().right(), row.width() - 1 - 8);
    EXPECT_GE(row.findChild<QWidget*>(QStringLiteral("modeTile"))->x(), 8);
    QAccessibleInterface* node = QAccessible::queryAccessibleInterface(&row);
    EXPECT_EQ(node->text(QAccessible::Name), "Photos");
    EXPECT_EQ(node->text(QAccessible::Value), "Never run, Copy");
    row.setValues(music, RunStatus::queued(), std::nullopt);
    EXPECT_EQ(node->text(QAccessible::Value), "Queued, Two-way");
}

TEST_F(JobListFixture, TheSelectionFollowsRequestsAndKeepsItsEditorUntilAnotherJob) {
    fake.setJobs({photos, music});
    fake.setRequestedJobID(music.id);  // before the view exists
    auto view = makeView();
    EXPECT_EQ(view->selection(), music.id);
    fake.setRequestedJobID(photos.id);
    EXPECT_EQ(view->selection(), photos.id);
    EXPECT_FALSE(fake.requestedJobID());
    const auto rowsSelected = [&](const Uuid& id) {
        for (JobSidebarRow* row : view->findChildren<JobSidebarRow*>()) EXPECT_EQ(row->isSelected(), row->job().id == id);
    };
    SCOPED_TRACE("TheSelectedRowTakesTheSelectionsTextColour, in full while the list has the focus");
    view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    const auto textOf = [](JobSidebarRow* row) {
        return child<QLabel>(*row, "jobName")->palette().color(QPalette::WindowText);
    };
    for (const auto& look : WidgetRender::looks()) {
        SCOPED_TRACE(look.name);
        view->setPalette(look.palette);
        for (const bool focused : {true, false}) {
            focused ? view->list()->setFocus() : view->list()->clearFocus();
            settle();
            const QPalette list = view->list()->palette();
            const auto drawn = focused ? QPalette::Active : QPalette::Inactive;
            rowsSelected(photos.id);
            for (JobSidebarRow* row : view->findChildren<JobSidebarRow*>()) {
                EXPECT_EQ(textOf(row), row->job().id == photos.id ? list.color(drawn, QPalette::HighlightedText)
                                                                  : list.color(QPalette::Active, QPalette::WindowText));
            }
        }
    }
    FakeEditor* first = shownEditor(*view);
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->original.id == photos.id && !first->isNew);
    SyncJob renamed = photos;
    renamed.name = "Pictures";
    fake.setJobs({renamed, music});
    EXPECT_EQ(shownEditor(*view), first);
    view->newJob();
    view->newJobSheet()->reject();
    settle();
    EXPECT_EQ(view->selection(), photos.id) << "a cancelled new job keeps the selection";
    view->list()->setCurrentRow(1);
    EXPECT_EQ(shownEditor(*view)->original.id, music.id);
    rowsSelected(music.id);
    view->newJob();
    FakeEditor* sheetEditor = made.back();
    const SyncJob created = sheetEditor->original;
    fake.setJobs({renamed, music, created});  // what the editor's save does
    sheetEditor->onSaved();
    settle();
    EXPECT_FALSE(view->newJobSheet());
    EXPECT_EQ(shownEditor(*view)->original.id, created.id);
    EXPECT_EQ(view->list()->currentRow(), 2);
}

TEST_F(JobListFixture, TheDeleteDialogCancelsOnKeysAndDeletesTheJobItWasOpenedForUnlessTheJobIsBusy) {
    fake.setJobs({photos, music});
    fake.setErrorMessage("The jobs file could not be read.");
    auto view = makeView();
    ASSERT_TRUE(view->errorAlert());
    EXPECT_EQ(view->errorAlert()->informativeText(), "The jobs file could not be read.");
    press(view->errorAlert(), QMessageBox::AcceptRole);
    EXPECT_FALSE(fake.errorMessage() || view->errorAlert());
    view->select(photos.id);
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
        view->deleteButton()->click();
        QPointer<QMessageBox> dialog = view->deleteDialog();
        ASSERT_TRUE(dialog);
        EXPECT_NE(dialog->defaultButton(), button(dialog, QMessageBox::DestructiveRole));
        QTest::keyClick(dialog, key);
        settle();
        EXPECT_FALSE(dialog) << "closed by " << key;
        EXPECT_TRUE(fake.pendingDeletes.empty()) << "deleted by " << key;
    }
    const auto confirmDelete = [&] {
        view->deleteButton()->click();
        press(view->deleteDialog(), QMessageBox::DestructiveRole);
    };
    // A failed delete keeps the selection; the alert prefers the view's error.
    fake.setErrorMessage("The jobs file could not be read.");
    confirmDelete();
    deleted(std::make_exception_ptr(std::runtime_error("disk full")));
    EXPECT_EQ(view->selection(), photos.id);
    EXPECT_EQ(view->errorAlert()->informativeText(), "disk full");
    press(view->errorAlert(), QMessageBox::AcceptRole);
    // A notification click selects another job while the dialog is open.
    view->deleteButton()->click();
    fake.setRequestedJobID(music.id);
    EXPECT_EQ(view->selection(), music.id);
    press(view->deleteDialog(), QMessageBox::DestructiveRole);
    ASSERT_EQ(fake.pendingDeletes.size(), 1u);
    EXPECT_EQ(fake.pendingDeletes.front().first, photos.id);
    deleted();
    EXPECT_EQ(view->selection(), music.id);
    confirmDelete();
    deleted();
    EXPECT_FALSE(view->selection());
    SCOPED_TRACE("ABusyJobCanBeNeitherDeletedNorPausedAndAPauseKeepsASaveMadeMeanwhile");
    fake.setJobs({photos});
    view->select(photos.id);
    EXPECT_TRUE(view->deleteButton()->isEnabled());
    fake.setStatus(photos.id, RunStatus::queued());
    EXPECT_FALSE(view->deleteButton()->isEnabled());
    std::unique_ptr<QMenu> menu(view->contextMenu(photos, nullptr));
    EXPECT_FALSE(menu->actions().front()->isEnabled());
    fake.setStatus(photos.id, std::nullopt);
    EXPECT_TRUE(view->deleteButton()->isEnabled());
    menu.reset(view->contextMenu(photos, nullptr));
    QAction* pause = menu->actions().front();
    EXPECT_TRUE(pause->isEnabled());
    // The editor's save lands while the menu is open: the pause keeps it.
    SyncJob saved = photos;
    saved.name = "Pictures";
    saved.filters.patterns = {"*.tmp"};
    fake.setJobs({saved});
    pause->trigger();
    ASSERT_EQ(fake.pendingUpdates.size(), 1u);
    SyncJob expected = saved;
    expected.isEnabled = false;
    EXPECT_EQ(fake.pendingUpdates.front().first, expected);
    fake.answerUpdate(std::make_exception_ptr(std::runtime_error("jobs file is read-only")));
    settle();
    ASSERT_TRUE(view->errorAlert());
    EXPECT_EQ(view->errorAlert()->informativeText(), "jobs file is read-only");
    // A run that started while the menu was open stops the pause.
    menu.reset(view->contextMenu(saved, nullptr));
    fake.setStatus(saved.id, RunStatus::queued());
    menu->actions().front()->trigger();
    EXPECT_TRUE(fake.pendingUpdates.empty());
}

// A title too long for the screen is shortened in its middle, the whole of it then leading the message.
struct AlertTexts {
    const char* name;
    enum Kind { deleteJob, skip } kind;
    int nameLength;  // of the job's name
    QString message = {};  // the skip's reason
    bool unbroken = false;  // a name with nowhere to break
    SkipReason reason = SkipReason::deviceNotConnected;
    friend void PrintTo(const AlertTexts& texts, std::ostream* out) { *out << texts.name; }
};

class AlertFixture : public JobListFixture, public testing::WithParamInterface<AlertTexts> {};

TEST_P(AlertFixture, TheWholeTitleIsReadableAndAShortMessageSitsOnOneLine) {
    const QString words = QStringLiteral("Family photographs from the old laptop and the phones, by year and place; ");
    const QString name = GetParam().unbroken ? QString(GetParam().nameLength, QLatin1Char('W'))
                                             : words.repeated(4).left(GetParam().nameLength);
    SyncJob job = namedJob(name.toStdString());
    fake.setJobs({job});
    auto view = makeView();
    QPointer<QMessageBox> alert;
    if (GetParam().kind == AlertTexts::deleteJob) {
        view->select(job.id);
        view->deleteButton()->click();
        alert = view->deleteDialog();
    } else {
        fake.setManualSkip(record(job, 0, RunOutcome::skipped(GetParam().reason)));
        alert = view->skipAlert();
    }
    ASSERT_TRUE(alert && QTest::qWaitForWindowExposed(alert));
    settle();
    // However much it grew, it stands where alerts stand: centred on its window.
    EXPECT_EQ(alert->frameGeometry(), WindowPlacement::centred(alert->frameGeometry().size(), view->frameGeometry(),
                                                               WindowPlacement::freeArea(*alert)));
    // Without a title of its own, a window is named after the application.
    const QString title = alert->windowTitle().isEmpty() ? QCoreApplication::applicationName() : alert->windowTitle();
    const QString set = alert->windowHandle()->title();
    const QString shown = set.isEmpty() ? QCoreApplication::applicationName() : set;
    QFont bold = alert->font();
    bold.setBold(true);
    const int line = QFontMetrics(alert->font()).height();
    EXPECT_LE(QFontMetrics(bold).horizontalAdvance(shown) + 6 * line, alert->width()) << "cut: " << shown.toStdString();
    const QString message = alert->informativeText();
    const auto labels = alert->findChildren<QLabel*>();
    const auto label = std::find_if(labels.begin(), labels.end(), [&](QLabel* l) { return l->text() == message; });
    ASSERT_NE(label, labels.end());
    if (shown != title) {
        EXPECT_TRUE(shown.contains(QChar(0x2026)));
        EXPECT_TRUE(QString(message).remove(QChar(0x200B)).startsWith(title)) << "the whole title is nowhere";
        const QRect room(0, 0, (*label)->contentsRect().width(), 100000);
        EXPECT_LE((*label)->fontMetrics().boundingRect(room, Qt::TextWordWrap, message).width(), room.width()) << "cut";
    } else {
        EXPECT_EQ((*label)->heightForWidth((*label)->width()), (*label)->heightForWidth(10000))
            << "wrapped: " << message.toStdString();
    }
    if (GetParam().kind != AlertTexts::skip) return;
    SCOPED_TRACE("TheSkipAlertIsAWarningAsWideAsItsTextsAndNamesTheJob");
    EXPECT_EQ(alert->icon(), QMessageBox::Warning);
    EXPECT_EQ(alert->windowTitle(), name);
    const QString reason = QLatin1Char('\n') + GetParam().message;
    EXPECT_TRUE(message == GetParam().message || (shown != title && message.endsWith(reason))) << message.toStdString();
    press(alert, QMessageBox::AcceptRole);
    EXPECT_FALSE(fake.manualSkip() || view->skipAlert());
}

INSTANTIATE_TEST_SUITE_P(
    JobListFixture, AlertFixture,
    testing::Values(AlertTexts{"deleteShortName", AlertTexts::deleteJob, 30},
                    AlertTexts{"deleteLongerName", AlertTexts::deleteJob, 75},
                    AlertTexts{"deleteNinetyNine", AlertTexts::deleteJob, 99},
                    AlertTexts{"deleteVeryLongName", AlertTexts::deleteJob, 240},
                    AlertTexts{"deleteUnbrokenName", AlertTexts::deleteJob, 240, {}, true},
                    AlertTexts{"skipNinetyNine", AlertTexts::skip, 99, QStringLiteral("Device not connected")},
                    AlertTexts{"skipFolderMissing", AlertTexts::skip, 75, QStringLiteral("Folder missing"), false,
                               SkipReason::folderMissing},
                    AlertTexts{"skipIdentityMismatch", AlertTexts::skip, 75, QStringLiteral("Different disk"), false,
                               SkipReason::identityMismatch},
                    AlertTexts{"skipOnBattery", AlertTexts::skip, 75, QStringLiteral("Running on battery"), false,
                               SkipReason::onBattery}),
    [](const testing::TestParamInfo<AlertTexts>& info) { return std::string(info.param.name); });

TEST_F(JobListFixture, NamesPathsAndMessagesShowAsTheyAre) {
    const std::string marked = "<b>Bold</b> &amp; <i>x</i>";
    const QString literal = QString::fromStdString(marked);
    SyncJob job = namedJob(marked);
    job.source.path = "/home/ann/" + marked;
    job.destination = endpoint("/media/ann/" + marked, VolumeKind::removable, marked);
    job.triggers = {Trigger::onConnect(ConnectAction::run)};
    RunRecord failed = record(job, 0, RunOutcome::failed(marked));
    failed.stats.errors = {marked};
    fake.setJobs({job});
    fake.setLastRecord(failed);
    fake.historySource = [&](const Uuid&) { return std::vector<RunRecord>{failed}; };
    dots.warning = true;
    JobListView view(model, SyncStrings{}, JobListView::standardEditors(model, SyncStrings{}), dots.sources());
    view.show();
    view.select(job.id);
    settle();
    dots.runAll();
    for (QToolButton* disclosure : view.findChildren<QToolButton*>(QStringLiteral("disclosure"))) disclosure->click();
    fake.setManualSkip(record(job, 1, RunOutcome::skipped(SkipReason::folderMissing)));
    fake.setErrorMessage(marked);
    MenuBarContent tray(model, SyncStrings{}, {}, dots.sources());
    tray.show();
    settle();
    dots.runAll();
    int shown = 0;
    for (QWidget* window : {static_cast<QWidget*>(&view), static_cast<QWidget*>(&tray)}) {
        for (QWidget* widget : window->findChildren<QWidget*>()) {
            const auto* label = qobject_cast<QLabel*>(widget);
            if (label != nullptr && label->text().contains(QStringLiteral("Bold"))) {
                ++shown;
                const bool rich = label->textFormat() == Qt::RichText ||
                                  (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(label->text()));
                EXPECT_FALSE(rich) << qPrintable(label->objectName()) << ": " << qPrintable(label->text());
            }
            // A tool tip that looks like markup is drawn as such.
            const QString tip = widget->toolTip();
            if (tip.contains(QStringLiteral("Bold"))) {
                const QString drawn = Qt::mightBeRichText(tip) ? QTextDocumentFragment::fromHtml(tip).toPlainText() : tip;
                EXPECT_TRUE(drawn.contains(literal)) << widget->metaObject()->className() << ": " << qPrintable(tip);
            }
        }
    }
    EXPECT_GE(shown, 6) << "the name in the sidebar, editor and tray, the paths, the messages";
}

// Every way a job's draft is left, in the main window and the new-job sheet, against every answer.
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

struct LeavingADraft : JobListFixture, ::testing::WithParamInterface<std::tuple<Way, int>> {
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
        press(asked, *reply.button);
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
    press(question(), QMessageBox::AcceptRole);
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
