#include "Kelto_Sync/Editor/ArchiveSafetySection.h"
#include "Kelto_Sync/Editor/FiltersSection.h"
#include "Kelto_Sync/Editor/IntegerField.h"
#include "Kelto_Sync/Editor/ModeSection.h"
#include "tests/editor/EditorDraft.h"
#include <QCheckBox>
#include <QPlainTextEdit>
#include <limits>

namespace kelto {
namespace {

using Patterns = std::vector<std::string>;

TEST(ModeSection, ModesAndTheArchiveWarning) {
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
}

// Keep forever hides the retention and gives back the standard days; the
// guard fields store what is typed, out of range or not, with its line.
TEST(ArchiveSafetySection, FieldsStoreWhatIsTypedAndKeepForeverHidesTheRetention) {
    EditorDraft draft;
    ArchiveSafetySection section(SyncStrings::application(), draft.report());
    const SyncJob start = SyncJob::newJob("Job");
    draft.attach(section, start);
    EXPECT_TRUE(section.retentionMessage()->isHidden());
    toggle(section.keepForeverSwitch());
    EXPECT_FALSE(draft.job.options.archiveRetentionDays.has_value());
    EXPECT_TRUE(section.retentionRow()->isHidden());
    toggle(section.keepForeverSwitch());
    EXPECT_EQ(draft.job.options.archiveRetentionDays, 30);
    for (const std::int64_t days : {std::int64_t{0}, std::int64_t{366}, std::int64_t{-1},
                                    std::numeric_limits<std::int64_t>::min(), std::int64_t{1}, std::int64_t{365}}) {
        JobOptions options = JobOptions::standard();
        options.archiveRetentionDays = days;
        EXPECT_EQ(ArchiveSafetySection::retentionOutOfRange(options), days < 1 || days > 365) << days;
    }
    const auto typeInto = [](QLineEdit* field, const char* text) { field->selectAll(), QTest::keyClicks(field, text); };
    typeInto(section.retentionField(), "366");
    EXPECT_FALSE(section.retentionMessage()->isHidden());
    typeInto(section.guardPercentField(), "0");
    typeInto(section.guardMinFilesField(), "-12");
    toggle(section.archiveSwitch());
    SyncJob expected = start;
    expected.options.archiveRetentionDays = 366;
    expected.options.deleteGuardPercent = 0;
    expected.options.deleteGuardMinFiles = -12;
    expected.options.archiveEnabled = false;
    EXPECT_EQ(draft.job, expected);
    EXPECT_FALSE(section.retentionRow()->isHidden());
}

// The pattern lines are stored as typed, empty ones and every space included, and an untouched empty list stays empty.
TEST(FiltersSection, LinesKeepEverySpaceAndTheCursorStays) {
    EditorDraft draft;
    FiltersSection section(SyncStrings::application(), draft.report());
    draft.attach(section, SyncJob::newJob("Job"));
    EXPECT_TRUE(draft.reports == 0 && draft.job.filters.patterns.empty());
    QTest::keyClicks(section.patternEditor(), "a");
    QTest::keyClick(section.patternEditor(), Qt::Key_Backspace);
    EXPECT_EQ(draft.job.filters.patterns, Patterns{""});
    SyncJob job = SyncJob::newJob("Job");
    job.filters.patterns = {"a", "", "b"};
    section.setJob(job);
    EXPECT_EQ(section.patternEditor()->toPlainText(), QStringLiteral("a\n\nb"));
    QTextCursor cursor = section.patternEditor()->textCursor();
    cursor.setPosition(2);
    section.patternEditor()->setTextCursor(cursor);
    QTest::keyClicks(section.patternEditor(), QStringLiteral("  x\u00a0 "));
    EXPECT_EQ(draft.job.filters.patterns, (Patterns{"a", "  x\u00a0 ", "b"}));
    EXPECT_EQ(section.patternEditor()->textCursor().position(), 7);
    QTest::keyClick(section.patternEditor(), Qt::Key_Return);
    EXPECT_EQ(draft.job.filters.patterns, (Patterns{"a", "  x\u00a0 ", "", "b"}));
    toggle(section.defaultExcludesSwitch());
    EXPECT_EQ(draft.job.filters.useDefaultExcludes, !job.filters.useDefaultExcludes);
    EXPECT_EQ(draft.job.filters.patterns, (Patterns{"a", "  x\u00a0 ", "", "b"}));
}

}  // namespace
}  // namespace kelto
