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

TEST(ArchiveSafetySection, KeepForeverAndTheRetentionLine) {
    EditorDraft draft;
    ArchiveSafetySection section(SyncStrings::application(), draft.report());
    draft.attach(section, SyncJob::newJob("Job"));
    EXPECT_TRUE(section.retentionMessage()->isHidden());
    toggle(section.keepForeverSwitch());
    EXPECT_FALSE(draft.job.options.archiveRetentionDays.has_value());
    EXPECT_TRUE(section.retentionRow()->isHidden());
    toggle(section.keepForeverSwitch());
    EXPECT_EQ(draft.job.options.archiveRetentionDays, 30);
    EXPECT_FALSE(section.retentionRow()->isHidden());
    for (const std::int64_t days : {std::int64_t{0}, std::int64_t{366}, std::int64_t{-1},
                                    std::numeric_limits<std::int64_t>::min(), std::int64_t{1}, std::int64_t{365}}) {
        JobOptions options = JobOptions::standard();
        options.archiveRetentionDays = days;
        EXPECT_EQ(ArchiveSafetySection::retentionOutOfRange(options), days < 1 || days > 365) << days;
    }
    section.retentionField()->selectAll();
    QTest::keyClicks(section.retentionField(), "366");
    EXPECT_EQ(draft.job.options.archiveRetentionDays, 366);
    EXPECT_FALSE(section.retentionMessage()->isHidden());
}

TEST(ArchiveSafetySection, GuardFieldsStoreWhatIsTypedAndNothingElse) {
    EditorDraft draft;
    ArchiveSafetySection section(SyncStrings::application(), draft.report());
    const SyncJob start = SyncJob::newJob("Job");
    draft.attach(section, start);
    section.guardPercentField()->selectAll();
    QTest::keyClicks(section.guardPercentField(), "0");
    section.guardMinFilesField()->selectAll();
    QTest::keyClicks(section.guardMinFilesField(), "-12");
    SyncJob expected = start;
    expected.options.deleteGuardPercent = 0;
    expected.options.deleteGuardMinFiles = -12;
    EXPECT_EQ(draft.job, expected);
    toggle(section.archiveSwitch());
    expected.options.archiveEnabled = false;
    EXPECT_EQ(draft.job, expected);
    EXPECT_FALSE(section.retentionRow()->isHidden());
}

TEST(FiltersSection, EmptyListStaysEmptyUntilEdited) {
    EditorDraft draft;
    FiltersSection section(SyncStrings::application(), draft.report());
    draft.attach(section, SyncJob::newJob("Job"));
    EXPECT_EQ(draft.reports, 0);
    EXPECT_TRUE(draft.job.filters.patterns.empty());
    QTest::keyClicks(section.patternEditor(), "a");
    QTest::keyClick(section.patternEditor(), Qt::Key_Backspace);
    EXPECT_EQ(draft.job.filters.patterns, Patterns{""});
    QTest::keyClicks(section.patternEditor(), "*.tmp");
    QTest::keyClick(section.patternEditor(), Qt::Key_Return);
    EXPECT_EQ(draft.job.filters.patterns, (Patterns{"*.tmp", ""}));
}

TEST(FiltersSection, LinesKeepEverySpaceAndTheCursorStays) {
    EditorDraft draft;
    FiltersSection section(SyncStrings::application(), draft.report());
    SyncJob job = SyncJob::newJob("Job");
    job.filters.patterns = {"a", "", "b"};
    draft.attach(section, job);
    EXPECT_EQ(section.patternEditor()->toPlainText(), QStringLiteral("a\n\nb"));
    EXPECT_EQ(FiltersSection::patterns(FiltersSection::rawText(*section.patternEditor()->document())),
              (Patterns{"a", "", "b"}));
    QTextCursor cursor = section.patternEditor()->textCursor();
    cursor.setPosition(2);
    section.patternEditor()->setTextCursor(cursor);
    QTest::keyClicks(section.patternEditor(), QStringLiteral("  x\u00a0 "));
    EXPECT_EQ(draft.job.filters.patterns, (Patterns{"a", "  x\u00a0 ", "b"}));
    EXPECT_EQ(section.patternEditor()->textCursor().position(), 7);
    toggle(section.defaultExcludesSwitch());
    EXPECT_EQ(draft.job.filters.useDefaultExcludes, !job.filters.useDefaultExcludes);
    EXPECT_EQ(draft.job.filters.patterns, (Patterns{"a", "  x\u00a0 ", "b"}));
}

}  // namespace
}  // namespace kelto
