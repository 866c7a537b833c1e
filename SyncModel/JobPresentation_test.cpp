#include "SyncModel/JobPresentation.h"

#include <gtest/gtest.h>

using namespace kelto;

namespace {

const Trigger connectRun = Trigger::onConnect(ConnectAction::run);
const Trigger connectAsk = Trigger::onConnect(ConnectAction::ask);
const Trigger hourly = Trigger::every(1, IntervalUnit::hours);
const Trigger nineDaily = Trigger::daily({9, 0});
const Trigger monday = Trigger::weekly({2}, {9, 0});

SyncJob presetJob(std::vector<Trigger> triggers = {}) {
    SyncJob job = SyncJob::newJob("Documents");
    job.triggers = std::move(triggers);
    return job;
}

TEST(JobPresentation, SimpleTriggerListsAreAtMostOneRunOnConnectAndOneTimed) {
    using T = std::vector<Trigger>;
    for (const T& simple : {T{}, T{connectRun}, T{hourly}, T{nineDaily}, T{monday}, T{connectRun, monday},
                            T{nineDaily, connectRun}, T{Trigger::every(1, IntervalUnit::minutes), connectRun}})
        EXPECT_TRUE(JobPresentation::hasSimpleTriggers(simple)) << JsonText::encode(simple);
    for (const T& advanced : {T{connectAsk}, T{connectAsk, hourly}, T{hourly, connectAsk}, T{connectRun, connectRun},
                              T{hourly, nineDaily}, T{connectRun, hourly, nineDaily}, T{hourly, connectRun, monday}})
        EXPECT_FALSE(JobPresentation::hasSimpleTriggers(advanced)) << JsonText::encode(advanced);
}

TEST(JobPresentation, CountsEachSettingAwayFromThePreset) {
    for (const auto& [triggers, count] : std::vector<std::pair<std::vector<Trigger>, int>>{
             {{}, 0}, {{nineDaily, connectRun}, 0}, {{connectAsk}, 2}, {{hourly, nineDaily}, 1}, {{connectAsk, connectAsk, hourly}, 2}})
        EXPECT_EQ(JobPresentation::advancedSettingsCount(presetJob(triggers)), count) << JsonText::encode(triggers);
    auto countWith = [](auto edit) {
        SyncJob job = presetJob();
        edit(job);
        return JobPresentation::advancedSettingsCount(job);
    };
    EXPECT_EQ(countWith([](SyncJob& j) { j.options.archiveRetentionDays.reset(); }), 1);
    EXPECT_EQ(countWith([](SyncJob& j) { j.options.archiveRetentionDays = 31; }), 1);
    EXPECT_EQ(countWith([](SyncJob& j) { j.options.deleteGuardPercent = 21; }), 1);
    EXPECT_EQ(countWith([](SyncJob& j) { j.filters.patterns = {"a", "b", "c"}; }), 1);
    SyncJob job = presetJob();  // identity, folders, mode and the enabled flag never count
    job.name = "";
    job.mode = SyncMode::twoWay;
    job.isEnabled = false;
    job.source.path = "/Users/me/Documents";
    EXPECT_EQ(JobPresentation::advancedSettingsCount(job), 0);
    job.options = JobOptions{false, std::nullopt, 10, 5, true, true};
    job.filters = FilterSet{false, {"*.log"}};
    job.triggers = {connectAsk, nineDaily};
    EXPECT_EQ(JobPresentation::advancedSettingsCount(job), 10);
}

TEST(JobPresentation, SimplifiedResetsToThePresetAndKeepsOnlySimpleTriggers) {
    SyncJob job = presetJob({connectRun, monday});
    job.mode = SyncMode::mirror;
    job.isEnabled = false;
    job.source.path = "/Users/me/Music";
    job.destination.path = "/Volumes/Backup/Music";
    job.options = JobOptions{false, std::nullopt, 10, 5, true, true};
    job.filters = FilterSet{false, {"*.log"}};
    SyncJob expected = job;  // identity, folders, mode, flag and simple triggers stay
    expected.options = JobOptions::standard();
    expected.filters = FilterSet{true, {}};
    const SyncJob simple = JobPresentation::simplified(job);
    EXPECT_EQ(simple, expected);
    EXPECT_EQ(JobPresentation::advancedSettingsCount(simple), 0);
    for (const auto& triggers : {std::vector<Trigger>{connectAsk}, std::vector<Trigger>{connectRun, hourly, monday}}) {
        job.triggers = triggers;
        const SyncJob reset = JobPresentation::simplified(job);
        EXPECT_TRUE(reset.triggers.empty());
        EXPECT_EQ(JobPresentation::advancedSettingsCount(reset), 0);
    }
}

}  // namespace
