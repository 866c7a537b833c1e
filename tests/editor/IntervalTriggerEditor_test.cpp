#include "Kelto_Sync/Editor/IntegerField.h"
#include "Kelto_Sync/Editor/IntervalTriggerEditor.h"
#include "tests/editor/EditorDraft.h"
#include <QToolButton>
#include <limits>

namespace kelto {
namespace {

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

TEST(IntervalTriggerEditor, StepperAndUnitKeepTheCountBetweenEachUnitsFloorAndTheLargestCount) {
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
}

TEST(IntervalTriggerEditor, TypedCountPassesUnchangedWithItsIssueLine) {
    Interval interval(30, IntervalUnit::minutes);
    EXPECT_TRUE(interval.editor.issueLabel()->isHidden());
    interval.editor.valueField()->selectAll();
    QTest::keyClicks(interval.editor.valueField(), "5");
    ASSERT_EQ(interval.sets.size(), 1u);
    EXPECT_EQ(interval.last(), std::pair(std::int64_t{5}, IntervalUnit::minutes));
    EXPECT_EQ(interval.editor.issueLabel()->text(),
              SyncStrings::application().text(QStringLiteral("validation.intervalBelowMinimum"), english));
    QTest::mouseClick(interval.editor.downButton(), Qt::LeftButton);
    EXPECT_EQ(interval.sets.size(), 1u);
    QTest::mouseClick(interval.editor.upButton(), Qt::LeftButton);
    EXPECT_EQ(interval.last(), std::pair(std::int64_t{6}, IntervalUnit::minutes));
    // Text that is no number commits nothing and gives way on leaving.
    interval.editor.valueField()->selectAll();
    QTest::keyClicks(interval.editor.valueField(), "x");
    EXPECT_EQ(interval.sets.size(), 2u);
    emit interval.editor.valueField()->editingFinished();
    EXPECT_EQ(interval.editor.valueField()->text(), QStringLiteral("6"));
}

TEST(IntervalTriggerEditor, LongestIntervalsAndLocaleDigits) {
    const std::pair<std::int64_t, IntervalUnit> tooLong[] = {
        {525'601, IntervalUnit::minutes}, {8'761, IntervalUnit::hours}, {366, IntervalUnit::days}};
    const QString tooLongText = SyncStrings::application().text(QStringLiteral("validation.intervalTooLong"), english);
    for (const auto& [value, unit] : tooLong) {
        Interval interval(value, unit);
        const QLabel* issue = interval.editor.issueLabel();
        EXPECT_TRUE(!issue->isHidden() && issue->text() == tooLongText) << value;
    }
    Interval year(525'600, IntervalUnit::minutes);
    EXPECT_TRUE(year.editor.issueLabel()->isHidden());
    Interval thousand(1'000, IntervalUnit::days);
    EXPECT_EQ(thousand.editor.valueField()->text(), QStringLiteral("1,000"));
    thousand.editor.setLocale(german);
    EXPECT_EQ(thousand.editor.valueField()->text(), QStringLiteral("1.000"));
    thousand.editor.valueField()->selectAll();
    QTest::keyClicks(thousand.editor.valueField(), "2.500");
    EXPECT_EQ(thousand.last(), std::pair(std::int64_t{2'500}, IntervalUnit::days));
}

}  // namespace
}  // namespace kelto
