// The job editor's form sections, each driven as the editor drives it.
#include "Kelto_Sync/Editor/ArchiveSafetySection.h"
#include "Kelto_Sync/Editor/FiltersSection.h"
#include "Kelto_Sync/Editor/FolderPicker.h"
#include "Kelto_Sync/Editor/FoldersSection.h"
#include "Kelto_Sync/Editor/IntegerField.h"
#include "Kelto_Sync/Editor/IntervalTriggerEditor.h"
#include "Kelto_Sync/Editor/ModeSection.h"
#include "Kelto_Sync/Editor/SimpleWhenSection.h"
#include "Kelto_Sync/Editor/TriggerRow.h"
#include "Kelto_Sync/Editor/TriggersSection.h"
#include "tests/support/widgets/QtPrinting.h"
#include "tests/support/widgets/WidgetRender.h"
#include "tests/views/status/StatusFixtures.h"
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTimeEdit>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <limits>
#include <stdexcept>

namespace kelto {
namespace {

// The editor's side of a section: keeps and counts the reported drafts, handing each back as the editor does.
struct EditorDraft {
    SyncJob job;
    int reports = 0;
    EditorSection* section = nullptr;
    EditorSection::Report report() {
        return [this](const SyncJob& next) {
            job = next;
            ++reports;
            section->setJob(next);
        };
    }
    template <class Section>
    Section& attach(Section& made, const SyncJob& start) {
        section = &made;
        made.setLocale(english);
        job = start;
        made.setJob(start);
        return made;
    }
};

// Chooses an entry as the user would, which is what `activated` reports.
inline void pick(QComboBox* box, int index) {
    box->setCurrentIndex(index);
    emit box->activated(index);
}

// Clicks a switch on its box: a switch with no text of its own is only as large as its box once laid out.
inline void toggle(QAbstractButton* box) {
    box->adjustSize();
    QTest::mouseClick(box, Qt::LeftButton);
}

void typeInto(QLineEdit* field, const char* text) { field->selectAll(), QTest::keyClicks(field, text); }

using Patterns = std::vector<std::string>;

TEST(FormSections, ModesTheArchiveFieldsAndFilterLinesStoreWhatIsChosen) {
    EditorDraft draft;
    ModeSection section(SyncStrings::application(), draft.report());
    SyncJob job = SyncJob::newJob("Job");
    job.options.archiveEnabled = false;
    draft.attach(section, job);
    EXPECT_TRUE(section.warning()->isHidden()) << "a copy replaces nothing";
    pick(section.picker(), 1);
    SyncJob expected = job;
    expected.mode = SyncMode::mirror;
    EXPECT_EQ(draft.job, expected);
    EXPECT_FALSE(section.warning()->isHidden());
    const QString mirrorText = section.description()->text();
    pick(section.picker(), 2);
    EXPECT_EQ(draft.job.mode, SyncMode::twoWay);
    EXPECT_NE(section.description()->text(), mirrorText);
    EXPECT_FALSE(section.warning()->isHidden());
    expected = draft.job;
    expected.options.archiveEnabled = true;
    section.setJob(expected);
    EXPECT_TRUE(section.warning()->isHidden());
    SCOPED_TRACE("FieldsStoreWhatIsTypedAndKeepForeverHidesTheRetention");
    ArchiveSafetySection safety(SyncStrings::application(), draft.report());
    const SyncJob start = SyncJob::newJob("Job");
    draft.attach(safety, start);
    EXPECT_TRUE(safety.retentionMessage()->isHidden());
    toggle(safety.keepForeverSwitch());
    EXPECT_FALSE(draft.job.options.archiveRetentionDays.has_value());
    EXPECT_TRUE(safety.retentionRow()->isHidden());
    toggle(safety.keepForeverSwitch());
    EXPECT_EQ(draft.job.options.archiveRetentionDays, 30);
    for (const std::int64_t days : {std::int64_t{0}, std::int64_t{366}, std::int64_t{-1},
                                    std::numeric_limits<std::int64_t>::min(), std::int64_t{1}, std::int64_t{365}}) {
        JobOptions options = JobOptions::standard();
        options.archiveRetentionDays = days;
        EXPECT_EQ(ArchiveSafetySection::retentionOutOfRange(options), days < 1 || days > 365) << days;
    }
    typeInto(safety.retentionField(), "366");
    EXPECT_FALSE(safety.retentionMessage()->isHidden());
    typeInto(safety.guardPercentField(), "0");
    typeInto(safety.guardMinFilesField(), "-12");
    toggle(safety.archiveSwitch());
    SyncJob typed = start;
    typed.options.archiveRetentionDays = 366;
    typed.options.deleteGuardPercent = 0;
    typed.options.deleteGuardMinFiles = -12;
    typed.options.archiveEnabled = false;
    EXPECT_EQ(draft.job, typed);
    EXPECT_FALSE(safety.retentionRow()->isHidden());
    SCOPED_TRACE("LinesKeepEverySpaceAndTheCursorStays");
    draft.reports = 0;
    FiltersSection filters(SyncStrings::application(), draft.report());
    draft.attach(filters, SyncJob::newJob("Job"));
    EXPECT_TRUE(draft.reports == 0 && draft.job.filters.patterns.empty());
    QTest::keyClicks(filters.patternEditor(), "a");
    QTest::keyClick(filters.patternEditor(), Qt::Key_Backspace);
    EXPECT_EQ(draft.job.filters.patterns, Patterns{""});
    SyncJob lined = SyncJob::newJob("Job");
    lined.filters.patterns = {"a", "", "b"};
    filters.setJob(lined);
    EXPECT_EQ(filters.patternEditor()->toPlainText(), QStringLiteral("a\n\nb"));
    QTextCursor cursor = filters.patternEditor()->textCursor();
    cursor.setPosition(2);
    filters.patternEditor()->setTextCursor(cursor);
    QTest::keyClicks(filters.patternEditor(), QStringLiteral("  x\u00a0 "));
    EXPECT_EQ(draft.job.filters.patterns, (Patterns{"a", "  x\u00a0 ", "b"}));
    EXPECT_EQ(filters.patternEditor()->textCursor().position(), 7);
    QTest::keyClick(filters.patternEditor(), Qt::Key_Return);
    EXPECT_EQ(draft.job.filters.patterns, (Patterns{"a", "  x\u00a0 ", "", "b"}));
    toggle(filters.defaultExcludesSwitch());
    EXPECT_EQ(draft.job.filters.useDefaultExcludes, !lined.filters.useDefaultExcludes);
    EXPECT_EQ(draft.job.filters.patterns, (Patterns{"a", "  x\u00a0 ", "", "b"}));
}

// An editor whose owner rebuilds it from every reported pair.
struct Interval {
    std::vector<std::pair<std::int64_t, IntervalUnit>> sets;
    IntervalTriggerEditor editor{SyncStrings::application(), [this](std::int64_t value, IntervalUnit unit) {
                                     sets.emplace_back(value, unit);
                                     editor.setInterval(value, unit);
                                 }};
    Interval(std::int64_t value, IntervalUnit unit) {
        editor.setLocale(english);
        editor.setInterval(value, unit);
    }
    std::pair<std::int64_t, IntervalUnit> last() const { return sets.back(); }
};

Endpoint on(VolumeKind kind, const std::string& name) { return endpoint("/media/" + name + "/x", kind, name); }

SyncJob withTriggers(std::vector<Trigger> triggers) {
    SyncJob job = SyncJob::newJob("Job");
    job.triggers = std::move(triggers);
    return job;
}

QStringList lineTexts(const SimpleWhenSection& section) {
    QStringList texts;
    for (const QLabel* line : section.lines()->findChildren<QLabel*>()) texts << line->text();
    return texts;
}

TEST(SimpleWhenSection, DeviceNamesTheSwitchWhatItCannotShowTheTimeBetweenSchedulesTheCLocaleAndTheAdvancedRows) {
    SyncJob job = withTriggers({Trigger::every(1, IntervalUnit::hours)});
    job.source = on(VolumeKind::removable, "Photos");
    EXPECT_EQ(SimpleWhenSection::deviceNames(job), QStringLiteral("Photos"));
    job.destination = on(VolumeKind::removable, "Photos");
    EXPECT_EQ(SimpleWhenSection::deviceNames(job), QStringLiteral("Photos"));
    job.source = on(VolumeKind::removable, "A");
    job.destination = on(VolumeKind::network, "B");
    EXPECT_EQ(SimpleWhenSection::deviceNames(job), QStringLiteral("A, B"));
    EditorDraft draft;
    int advanced = 0;
    SimpleWhenSection section(SyncStrings::application(), draft.report(), [&] { ++advanced; });
    draft.attach(section, job);
    EXPECT_EQ(section.onConnectSwitch()->accessibleName(), QStringLiteral("When A, B is connected"));
    toggle(section.onConnectSwitch());
    EXPECT_EQ(draft.job.triggers,
              (std::vector{Trigger::every(1, IntervalUnit::hours), Trigger::onConnect(ConnectAction::run)}));
    pick(section.schedulePicker(), SimpleWhenSection::none);
    EXPECT_EQ(draft.job.triggers, std::vector{Trigger::onConnect(ConnectAction::run)});
    toggle(section.onConnectSwitch());
    EXPECT_TRUE(draft.job.triggers.empty());
    job.source = on(VolumeKind::removable, "");
    job.destination = on(VolumeKind::internal, "Disk");
    section.setJob(job);
    EXPECT_EQ(section.onConnectRow(), nullptr);
    SCOPED_TRACE("ListsWhatItCannotShowReadOnlyAndCarriesTheTimeBetweenSchedules");
    draft.reports = 0;
    draft.attach(section, withTriggers({Trigger::onConnect(ConnectAction::ask)}));
    EXPECT_TRUE(section.simpleForm()->isHidden());
    EXPECT_EQ(lineTexts(section), QStringList{QStringLiteral("On connect: Ask")});
    QTest::mouseClick(section.editAdvancedButton(), Qt::LeftButton);
    EXPECT_EQ(advanced, 1);
    section.setJob(withTriggers({Trigger::daily({9, 0}), Trigger::every(2, IntervalUnit::hours),
                                 Trigger::weekly({7, 1, 2}, {18, 30})}));
    EXPECT_EQ(lineTexts(section), (QStringList{QStringLiteral("Daily at 9:00 AM"), QStringLiteral("Every 2 hours"),
                                               QStringLiteral("Weekly: Sun, Mon, Sat at 6:30 PM")}));
    EXPECT_EQ(SimpleWhenSection::triggerLine(Trigger::every(1, IntervalUnit::days), SyncStrings(), english),
              QStringLiteral("Every day"));
    EXPECT_EQ(draft.reports, 0);
    SCOPED_TRACE("ScheduleCarriesTheTimeBetweenDailyAndWeeklyAndAnEmptiedWeekdaySetWarns");
    section.setJob(withTriggers({Trigger::daily({7, 15})}));
    EXPECT_FALSE(section.timeRow()->isHidden());
    EXPECT_EQ(section.timeEdit()->time(), QTime(7, 15));
    pick(section.schedulePicker(), SimpleWhenSection::weekly);
    EXPECT_EQ(draft.job.triggers, std::vector{Trigger::weekly({2}, {7, 15})});
    EXPECT_TRUE(section.weekdayButton(2)->isChecked() && section.weekdayMessage()->isHidden());
    QTest::mouseClick(section.weekdayButton(2), Qt::LeftButton);
    EXPECT_EQ(draft.job.triggers, std::vector{Trigger::weekly({}, {7, 15})});
    EXPECT_FALSE(section.weekdayRow()->isHidden() || section.weekdayMessage()->isHidden());
    section.timeEdit()->setTime(QTime(18, 45));
    pick(section.schedulePicker(), SimpleWhenSection::daily);
    EXPECT_EQ(draft.job.triggers, std::vector{Trigger::daily({18, 45})});
    pick(section.schedulePicker(), SimpleWhenSection::every);
    EXPECT_EQ(draft.job.triggers, std::vector{Trigger::every(1, IntervalUnit::hours)});
    EXPECT_FALSE(section.intervalEditor()->isHidden());
    pick(section.schedulePicker(), SimpleWhenSection::daily);
    EXPECT_EQ(draft.job.triggers, std::vector{Trigger::daily({9, 0})});
    EXPECT_EQ(draft.reports, 6);
    // A fresh machine's C.UTF-8 reads as American English: day initials, not numbers, and hour and minute without
    // seconds.
    SCOPED_TRACE("TheCLocaleNamesDaysAndTimesAsEnglishDoes");
    const QLocale c = QLocale::c();
    draft.attach(section, withTriggers({Trigger::weekly({2}, {18, 30})}));
    const QString englishTime = section.timeEdit()->text();
    section.setLocale(c);
    QStringList initials;
    for (std::int64_t day = 1; day <= 7; ++day) initials << section.weekdayButton(day)->text();
    EXPECT_EQ(initials, QStringList({"S", "M", "T", "W", "T", "F", "S"}));
    EXPECT_EQ(section.weekdayButton(1)->toolTip(), QStringLiteral("Sunday"));
    EXPECT_EQ(section.timeEdit()->text(), englishTime);
    const Trigger weekly = Trigger::weekly({7, 1}, {18, 30});
    EXPECT_EQ(SimpleWhenSection::triggerLine(weekly, SyncStrings(), c),
              SimpleWhenSection::triggerLine(weekly, SyncStrings(), english));
    EditorDraft forRows;
    TriggersSection triggers(SyncStrings::application(), forRows.report());
    forRows.section = &triggers;
    triggers.setLocale(c);
    triggers.setJob(withTriggers({Trigger::weekly({2}, {18, 30})}));
    ASSERT_EQ(triggers.rows().size(), 1u);
    EXPECT_EQ(triggers.rows()[0]->timeEdit()->text(), englishTime);
    EXPECT_EQ(triggers.rows()[0]->weekdayButton(1)->text(), QStringLiteral("Sun"));
    SCOPED_TRACE("TheAdvancedRowsEditOnlyTheirOwnTriggerAndFollowPositionsAfterARemoval");
    forRows.attach(triggers, withTriggers({Trigger::onConnect(ConnectAction::run), Trigger::weekly({2, 4}, {9, 0}),
                                           Trigger::onConnect(ConnectAction::run)}));
    triggers.rows()[1]->timeEdit()->setTime(QTime(18, 45));
    EXPECT_EQ(forRows.job.triggers[1], Trigger::weekly({2, 4}, {18, 45}));
    QTest::mouseClick(triggers.rows()[1]->weekdayButton(4), Qt::LeftButton);
    EXPECT_EQ(forRows.job.triggers[1], Trigger::weekly({2}, {18, 45}));
    EXPECT_TRUE(triggers.rows()[1]->weekdayMessage()->isHidden());
    QTest::mouseClick(triggers.rows()[1]->weekdayButton(2), Qt::LeftButton);
    EXPECT_EQ(forRows.job.triggers[1], Trigger::weekly({}, {18, 45}));
    EXPECT_FALSE(triggers.rows()[1]->weekdayMessage()->isHidden());
    pick(triggers.rows()[2]->actionPicker(), 1);
    EXPECT_EQ(forRows.job.triggers, (std::vector{Trigger::onConnect(ConnectAction::run), Trigger::weekly({}, {18, 45}),
                                                 Trigger::onConnect(ConnectAction::ask)}));
    toggle(triggers.ejectSwitch());
    EXPECT_TRUE(forRows.job.options.ejectWhenDone && !forRows.job.options.skipOnBattery);
    triggers.addButton()->menu()->actions()[0]->trigger();
    EXPECT_EQ(forRows.job.triggers.size() + triggers.rows().size(), 8u);
    QTest::mouseClick(triggers.rows()[0]->removeButton(), Qt::LeftButton);
    ASSERT_EQ(triggers.rows().size(), 3u);
    EXPECT_EQ(triggers.rows()[1]->kind(), Trigger::Kind::onConnect);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    triggers.rows()[0]->timeEdit()->setTime(QTime(7, 5));
    EXPECT_EQ(forRows.job.triggers[0], Trigger::weekly({}, {7, 5}));
    for (int i = 0; i < 3; ++i) QTest::mouseClick(triggers.rows().back()->removeButton(), Qt::LeftButton);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(forRows.job.triggers.empty() && triggers.rows().empty());
    SCOPED_TRACE("IntervalTriggerEditor.TheCountByStepperUnitOrTyping");
    Interval fifteen(15, IntervalUnit::minutes);
    QTest::mouseClick(fifteen.editor.downButton(), Qt::LeftButton);
    EXPECT_TRUE(fifteen.sets.empty());
    QTest::mouseClick(fifteen.editor.upButton(), Qt::LeftButton);
    QTest::mouseClick(fifteen.editor.downButton(), Qt::LeftButton);
    using Set = std::pair<std::int64_t, IntervalUnit>;
    EXPECT_EQ(fifteen.sets, (std::vector<Set>{{16, IntervalUnit::minutes}, {15, IntervalUnit::minutes}}));
    EXPECT_FALSE(IntervalTriggerEditor::decremented(1, IntervalUnit::hours));
    EXPECT_EQ(IntervalTriggerEditor::decremented(2, IntervalUnit::days), 1);
    EXPECT_FALSE(IntervalTriggerEditor::decremented(std::numeric_limits<std::int64_t>::min(), IntervalUnit::days));
    Interval largest(std::numeric_limits<std::int64_t>::max(), IntervalUnit::days);
    QTest::mouseClick(largest.editor.upButton(), Qt::LeftButton);
    EXPECT_TRUE(largest.sets.empty());
    // A new unit keeps the count, raised to the unit's minimum.
    for (const auto& [value, from, to, expected] : {std::tuple{5, IntervalUnit::minutes, IntervalUnit::hours, 5},
                                                    std::tuple{2, IntervalUnit::days, IntervalUnit::minutes, 15},
                                                    std::tuple{40, IntervalUnit::minutes, IntervalUnit::days, 40}}) {
        Interval interval(value, from);
        pick(interval.editor.unitPicker(), static_cast<int>(to));
        ASSERT_EQ(interval.sets.size(), 1u);
        EXPECT_EQ(interval.last(), std::pair(std::int64_t{expected}, to));
    }
    SCOPED_TRACE("TypedCountPassesUnchangedWithItsIssueLine");
    Interval interval(30, IntervalUnit::minutes);
    EXPECT_TRUE(interval.editor.issueLabel()->isHidden());
    typeInto(interval.editor.valueField(), "5");
    ASSERT_EQ(interval.sets.size(), 1u);
    EXPECT_EQ(interval.last(), std::pair(std::int64_t{5}, IntervalUnit::minutes));
    EXPECT_EQ(interval.editor.issueLabel()->text(),
              SyncStrings::application().text(QStringLiteral("validation.intervalBelowMinimum"), english));
    QTest::mouseClick(interval.editor.downButton(), Qt::LeftButton);
    EXPECT_EQ(interval.sets.size(), 1u);
    QTest::mouseClick(interval.editor.upButton(), Qt::LeftButton);
    EXPECT_EQ(interval.last(), std::pair(std::int64_t{6}, IntervalUnit::minutes));
    // Text that is no number commits nothing and gives way on leaving.
    typeInto(interval.editor.valueField(), "x");
    EXPECT_EQ(interval.sets.size(), 2u);
    emit interval.editor.valueField()->editingFinished();
    EXPECT_EQ(interval.editor.valueField()->text(), QStringLiteral("6"));
    SCOPED_TRACE("LongestIntervalsAndLocaleDigits");
    const std::pair<std::int64_t, IntervalUnit> tooLong[] = {
        {525'601, IntervalUnit::minutes}, {8'761, IntervalUnit::hours}, {366, IntervalUnit::days}};
    const QString tooLongText = SyncStrings::application().text(QStringLiteral("validation.intervalTooLong"), english);
    for (const auto& [value, unit] : tooLong) {
        Interval longest(value, unit);
        const QLabel* issue = longest.editor.issueLabel();
        EXPECT_TRUE(!issue->isHidden() && issue->text() == tooLongText) << value;
    }
    Interval year(525'600, IntervalUnit::minutes);
    EXPECT_TRUE(year.editor.issueLabel()->isHidden());
    Interval thousand(1'000, IntervalUnit::days);
    EXPECT_EQ(thousand.editor.valueField()->text(), QStringLiteral("1,000"));
    thousand.editor.setLocale(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(thousand.editor.valueField()->text(), QStringLiteral("1.000"));
    typeInto(thousand.editor.valueField(), "2.500");
    EXPECT_EQ(thousand.last(), std::pair(std::int64_t{2'500}, IntervalUnit::days));
}

using Side = FoldersSection::Side;

struct FakePicker : FolderPicker {
    std::optional<QString> answer;
    std::optional<QString> chooseFolder(QWidget*, const QString&, const QString&) override { return answer; }
};

// Lookups wait until the test releases them, in any order; a folder named "bad" fails.
struct HeldLookups {
    std::deque<std::function<void()>> held;
    FakePicker picker;
    FoldersSection::Services services() {
        return {[](const std::filesystem::path& folder) {
                    if (folder.filename() == "bad") throw std::runtime_error("Not a folder on a mounted volume");
                    return endpoint(folder.string(), VolumeKind::internal, "Disk");
                },
                [this](std::function<void()> work) { held.push_back(std::move(work)); }, &picker};
    }
    void release(std::size_t index) {
        held[index]();
        QCoreApplication::sendPostedEvents();
    }
};

struct Folders {
    QTemporaryDir root;
    HeldLookups lookups;
    EditorDraft draft;
    FoldersSection section{SyncStrings::application(), draft.report(), lookups.services()};
    Folders() { draft.attach(section, SyncJob::newJob("Job")); }
    QString folder(const QString& name) {
        QDir(root.path()).mkpath(name);
        return root.filePath(name);
    }
};

TEST(FoldersSection, SubtitlesSwapDropsLateLookupsAndErrors) {
    Folders folders;
    FoldersSection& section = folders.section;
    const QString empty = section.sideRow(Side::source)->subtitle();
    EXPECT_FALSE(section.swapButton()->isEnabled());
    folders.lookups.picker.answer = folders.folder("a");
    QTest::mouseClick(section.sideRow(Side::source)->chooseButton(), Qt::LeftButton);
    folders.lookups.release(0);
    EXPECT_EQ(folders.draft.job.source.path, folders.folder("a").toStdString());
    EXPECT_EQ(section.sideRow(Side::source)->subtitle(), folders.folder("a") + QStringLiteral("\nDisk"));
    EXPECT_TRUE(section.swapButton()->isEnabled());
    const Endpoint chosen = folders.draft.job.source;
    QTest::mouseClick(section.swapButton(), Qt::LeftButton);
    EXPECT_EQ(folders.draft.job.destination, chosen);
    EXPECT_EQ(folders.draft.job.source, Endpoint::empty());
    EXPECT_EQ(section.sideRow(Side::source)->subtitle(), empty);
    // An unlabelled root file system goes by its mount point: no line, as in the overview.
    const Endpoint unnamed = endpoint("/srv/data", VolumeKind::internal, "/");
    EXPECT_EQ(FoldersSection::subtitle(unnamed, SyncStrings(), english), QStringLiteral("/srv/data"));
    SCOPED_TRACE("SwapIconFollowsTheDesktopSwitchingToDark");
    const QPalette before = QApplication::palette();
    QApplication::setPalette(WidgetRender::lightPalette());
    section.show();
    const QImage light = section.swapButton()->icon().pixmap(QSize(16, 16)).toImage();
    QApplication::setPalette(WidgetRender::darkPalette());
    QCoreApplication::processEvents();
    const QImage dark = section.swapButton()->icon().pixmap(QSize(16, 16)).toImage();
    QApplication::setPalette(before);
    EXPECT_NE(light, dark);
    SCOPED_TRACE("DropsTakeTheFirstExistingFolderAndLateLookupsAreDropped");
    folders.lookups.held.clear();
    const QString file = folders.root.filePath("note.txt");
    QFile(file).open(QIODevice::WriteOnly);
    const QUrl web(QStringLiteral("https://example.org/x"));
    for (const QList<QUrl>& urls : {QList<QUrl>{}, QList{QUrl::fromLocalFile(file)}, QList{web},
                                    QList{QUrl::fromLocalFile(folders.root.filePath("gone"))}})
        EXPECT_FALSE(folders.section.drop(Side::destination, urls)) << urls.value(0).toString().toStdString();
    EXPECT_TRUE(folders.lookups.held.empty());
    EXPECT_TRUE(folders.section.drop(
        Side::destination, {QUrl::fromLocalFile(folders.folder("one")), QUrl::fromLocalFile(folders.folder("two"))}));
    ASSERT_EQ(folders.lookups.held.size(), 1u);
    folders.section.apply(Side::source, folders.folder("old"));
    folders.section.apply(Side::source, folders.folder("new"));
    for (const std::size_t lookup : {2, 1, 0}) folders.lookups.release(lookup);
    EXPECT_EQ(folders.draft.job.source.path, folders.folder("new").toStdString());
    EXPECT_EQ(folders.draft.job.destination.path, folders.folder("one").toStdString());
    EXPECT_EQ(folders.draft.reports, 4);
    HeldLookups lookups;
    int reports = 0;
    FoldersSection(SyncStrings(), [&](const SyncJob&) { ++reports; }, lookups.services())
        .apply(Side::source, folders.folder("x"));
    lookups.release(0);
    EXPECT_EQ(reports, 0);
    SCOPED_TRACE("ErrorStaysOnCancelAndGoesWithSuccess");
    folders.lookups.held.clear();
    folders.section.setValidation({ValidationIssue::emptyName, ValidationIssue::samePath,
                                   ValidationIssue::retentionOutOfRange});
    const auto issues = folders.section.issues()->findChildren<QLabel*>();
    ASSERT_EQ(issues.size(), 1) << "the folders' issues only";
    folders.section.apply(Side::source, folders.folder("bad"));
    folders.lookups.release(0);
    EXPECT_EQ(folders.section.errorLabel()->text(), QStringLiteral("Not a folder on a mounted volume"));
    EXPECT_EQ(folders.draft.reports, 4);
    folders.lookups.picker.answer.reset();
    QTest::mouseClick(folders.section.sideRow(Side::source)->chooseButton(), Qt::LeftButton);
    EXPECT_FALSE(folders.section.errorLabel()->isHidden());
    folders.section.apply(Side::source, folders.folder("good"));
    folders.lookups.release(1);
    EXPECT_TRUE(folders.section.errorLabel()->isHidden());
    EXPECT_EQ(folders.draft.reports, 5);
    folders.section.apply(Side::source, QString::fromUtf8("/tmp/\xef\xbf\xbd"));
    EXPECT_EQ(folders.lookups.held.size(), 2u) << "a name not in UTF-8 is not looked up";
    EXPECT_FALSE(folders.section.errorLabel()->isHidden());
    SCOPED_TRACE("TheDialogStartsInTheSidesFolderElseAtHome");
    FoldersSection dialogs(SyncStrings(), {}, {{}, [](std::function<void()>) {}, &FolderPicker::dialog()});
    SyncJob job = SyncJob::newJob("Job");
    job.source.path = folders.root.path().toStdString();
    job.destination.path = folders.root.filePath(QStringLiteral("gone")).toStdString();
    dialogs.setJob(job);
    const auto openedIn = [&](Side side) {
        QString where;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
                where = dialog->directory().absolutePath();
                dialog->reject();
            }
        });
        poll.start(10);
        dialogs.sideRow(side)->chooseButton()->click();
        return where;
    };
    EXPECT_EQ(openedIn(Side::source), folders.root.path());
    EXPECT_EQ(openedIn(Side::destination), QDir::homePath());
    SCOPED_TRACE("FolderPicker.TheDateColumnFitsTheWidestDateOfTheLocale");
    const auto picker = FolderPicker::folderDialog(nullptr, QStringLiteral("Choose folder"), QDir::homePath());
    auto* list = picker->findChild<QTreeView*>(QStringLiteral("treeView"));
    const QFontMetrics metrics = list->fontMetrics();
    for (const QLocale& locale : {QLocale(QStringLiteral("C.UTF-8")), QLocale(QStringLiteral("en_US.UTF-8"))}) {
        SCOPED_TRACE(locale.name().toStdString());
        const int widest = FolderPicker::widestDate(metrics, locale);
        for (int month = 1; month <= 12; ++month) {
            for (int day = 1; day <= QDate(2027, month, 1).daysInMonth(); ++day) {
                for (int hour = 0; hour < 24; ++hour) {
                    const QString shown = locale.toString(QDateTime(QDate(2027, month, day), QTime(hour, 59)),
                                                          QLocale::ShortFormat);
                    ASSERT_LE(metrics.horizontalAdvance(shown), widest) << shown.toStdString();
                }
            }
        }
    }
    const QString wide = QLocale::system().toString(QDateTime(QDate(2027, 12, 28), QTime(22, 48)), QLocale::ShortFormat);
    EXPECT_GE(list->header()->sectionSize(3), metrics.horizontalAdvance(wide) + 8) << wide.toStdString();
}

}  // namespace
}  // namespace kelto
