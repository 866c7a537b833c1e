#include "Kelto_Sync/Editor/IntervalTriggerEditor.h"
#include "Kelto_Sync/Editor/SimpleWhenSection.h"
#include "Kelto_Sync/Editor/TriggerRow.h"
#include "Kelto_Sync/Editor/TriggersSection.h"
#include "tests/editor/EditorDraft.h"
#include <QCheckBox>
#include <QCoreApplication>
#include <QMenu>
#include <QPushButton>
#include <QTimeEdit>
#include <QToolButton>

namespace kelto {
namespace {

Endpoint on(VolumeKind kind, const std::string& name) {
    Endpoint side;
    side.path = "/media/" + name + "/x";
    side.volume.kind = kind;
    side.volume.name = name;
    return side;
}

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

// Device names name each removable volume once; the on-connect switch and "None" leave each other alone.
TEST(SimpleWhenSection, DeviceNamesNameEachRemovableVolumeOnceAndTheSwitchAndNoneLeaveEachOtherAlone) {
    SyncJob job = withTriggers({Trigger::every(1, IntervalUnit::hours)});
    job.source = on(VolumeKind::removable, "Photos");
    EXPECT_EQ(SimpleWhenSection::deviceNames(job), QStringLiteral("Photos"));
    job.destination = on(VolumeKind::removable, "Photos");
    EXPECT_EQ(SimpleWhenSection::deviceNames(job), QStringLiteral("Photos"));
    job.source = on(VolumeKind::removable, "A");
    job.destination = on(VolumeKind::network, "B");
    EXPECT_EQ(SimpleWhenSection::deviceNames(job), QStringLiteral("A, B"));
    EditorDraft draft;
    SimpleWhenSection section(SyncStrings::application(), draft.report());
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
}

TEST(SimpleWhenSection, ListsWhatItCannotShowReadOnly) {
    EditorDraft draft;
    int advanced = 0;
    SimpleWhenSection section(SyncStrings::application(), draft.report(), [&] { ++advanced; });
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
}

TEST(SimpleWhenSection, ScheduleCarriesTheTimeBetweenDailyAndWeeklyAndAnEmptiedWeekdaySetWarns) {
    EditorDraft draft;
    SimpleWhenSection section(SyncStrings::application(), draft.report());
    draft.attach(section, withTriggers({Trigger::daily({7, 15})}));
    EXPECT_FALSE(section.timeRow()->isHidden());
    EXPECT_EQ(section.timeEdit()->time(), QTime(7, 15));
    pick(section.schedulePicker(), SimpleWhenSection::weekly);
    EXPECT_EQ(draft.job.triggers, std::vector{Trigger::weekly({2}, {7, 15})});
    EXPECT_TRUE(section.weekdayButton(2)->isChecked() && section.weekdayMessage()->isHidden());
    // An emptied weekday set keeps its row and warns.
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
}

// A fresh machine's C.UTF-8 reads as American English: day initials, not numbers, and hour and minute without seconds.
TEST(SimpleWhenSection, TheCLocaleNamesDaysAndTimesAsEnglishDoes) {
    const QLocale c = QLocale::c();
    EditorDraft draft;
    SimpleWhenSection section(SyncStrings::application(), draft.report());
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
    EditorDraft advanced;
    TriggersSection triggers(SyncStrings::application(), advanced.report());
    advanced.section = &triggers;
    triggers.setLocale(c);
    triggers.setJob(withTriggers({Trigger::weekly({2}, {18, 30})}));
    ASSERT_EQ(triggers.rows().size(), 1u);
    EXPECT_EQ(triggers.rows()[0]->timeEdit()->text(), englishTime);
    EXPECT_EQ(triggers.rows()[0]->weekdayButton(1)->text(), QStringLiteral("Sun"));
}

TEST(TriggersSection, EditsReplaceOnlyTheirOwnRowAndRowsFollowPositionsAfterARemoval) {
    EditorDraft draft;
    TriggersSection section(SyncStrings::application(), draft.report());
    draft.attach(section, withTriggers({Trigger::onConnect(ConnectAction::run), Trigger::weekly({2, 4}, {9, 0}),
                                        Trigger::onConnect(ConnectAction::run)}));
    section.rows()[1]->timeEdit()->setTime(QTime(18, 45));
    EXPECT_EQ(draft.job.triggers[1], Trigger::weekly({2, 4}, {18, 45}));
    QTest::mouseClick(section.rows()[1]->weekdayButton(4), Qt::LeftButton);
    EXPECT_EQ(draft.job.triggers[1], Trigger::weekly({2}, {18, 45}));
    EXPECT_TRUE(section.rows()[1]->weekdayMessage()->isHidden());
    QTest::mouseClick(section.rows()[1]->weekdayButton(2), Qt::LeftButton);
    EXPECT_EQ(draft.job.triggers[1], Trigger::weekly({}, {18, 45}));
    EXPECT_FALSE(section.rows()[1]->weekdayMessage()->isHidden());
    pick(section.rows()[2]->actionPicker(), 1);
    EXPECT_EQ(draft.job.triggers, (std::vector{Trigger::onConnect(ConnectAction::run), Trigger::weekly({}, {18, 45}),
                                               Trigger::onConnect(ConnectAction::ask)}));
    toggle(section.ejectSwitch());
    EXPECT_TRUE(draft.job.options.ejectWhenDone && !draft.job.options.skipOnBattery);
    section.addButton()->menu()->actions()[0]->trigger();
    EXPECT_EQ(draft.job.triggers.size() + section.rows().size(), 8u);
    // Rows follow their positions after a removal.
    QTest::mouseClick(section.rows()[0]->removeButton(), Qt::LeftButton);
    ASSERT_EQ(section.rows().size(), 3u);
    EXPECT_EQ(section.rows()[1]->kind(), Trigger::Kind::onConnect);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    section.rows()[0]->timeEdit()->setTime(QTime(7, 5));
    EXPECT_EQ(draft.job.triggers[0], Trigger::weekly({}, {7, 5}));
    for (int i = 0; i < 3; ++i) QTest::mouseClick(section.rows().back()->removeButton(), Qt::LeftButton);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(draft.job.triggers.empty() && section.rows().empty());
}

}  // namespace
}  // namespace kelto
