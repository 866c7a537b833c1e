#include "Kelto_Sync/App/AppRuntime.h"
#include "Kelto_Sync/App/RunFinishedRouter.h"
#include "SyncAutomation/Async/ManualExecutor.h"
#include "SyncEngine/RsyncLocatorError.h"
#include "tests/support/FakeVolumeEvents.h"
#include "tests/support/TemporaryFolder.h"
#include "tests/views/support/FakeAppModel.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace kelto;
using ::testing::ElementsAre;

namespace {

struct RecordingNotices final : RunNotices {
    std::vector<std::string> posts;
    std::function<void()> onReview;
    void notifySuccess(const RunRecord&, const std::string& name) override { posts.push_back("success " + name); }
    void notifyProblem(const RunRecord&, const std::string& name) override { posts.push_back("problem " + name); }
    void notifyReviewNeeded(const Uuid&, const std::string& name, const std::string& detail) override {
        posts.push_back("review " + name + ": " + detail);
    }
    void askToSync(const SyncJob& job) override { posts.push_back("ask " + job.name); }
    void withdrawAsk(const Uuid&) override {}
};

struct Routing : ::testing::Test {
    FakeAppModel model;
    RecordingNotices notices;
    SyncJob job = SyncJob::newJob("Photos");
    std::vector<std::string> opened;  // with whether the request was set by then

    Routing() { model.setJobs({job}); }

    void route(RunOutcome outcome, RunTrigger trigger) {
        RunRecord record;
        record.jobID = job.id;
        record.trigger = trigger;
        record.outcome = std::move(outcome);
        RunFinishedRouter::route(record, &model, notices, [&](const Uuid& id) {
            opened.push_back(id == job.id && model.requestedJobID() == id ? "requested" : "open");
        });
    }
};

}  // namespace

TEST_F(Routing, eachOutcomeManualAndAutomatic) {
    for (RunTrigger trigger : {RunTrigger::manual, RunTrigger::schedule}) {
        for (RunOutcome outcome : {RunOutcome::success(), RunOutcome::completedWithWarnings(),
                                   RunOutcome::completedWithErrors(), RunOutcome::failed("disk full"),
                                   RunOutcome::cancelled(), RunOutcome::interrupted()})
            route(outcome, trigger);
    }
    EXPECT_THAT(notices.posts, ElementsAre("success Photos", "problem Photos", "problem Photos", "problem Photos",
                                           "success Photos", "problem Photos", "problem Photos", "problem Photos"));
    EXPECT_TRUE(opened.empty());
}

// Only a manual run opens the job; only a review sets the request first.
TEST_F(Routing, skipsAndReviewsOpenTheJobOnlyWhenManual) {
    route(RunOutcome::skipped(SkipReason::deviceNotConnected), RunTrigger::connect);
    route(RunOutcome::skipped(SkipReason::deviceNotConnected), RunTrigger::manual);
    EXPECT_THAT(opened, ElementsAre("open"));
    EXPECT_TRUE(notices.posts.empty());
    route(RunOutcome::needsReview("12 deletions"), RunTrigger::schedule);
    EXPECT_FALSE(model.requestedJobID());
    route(RunOutcome::needsReview("12 deletions"), RunTrigger::manual);
    EXPECT_THAT(opened, ElementsAre("open", "requested"));
    EXPECT_THAT(notices.posts, ElementsAre("review Photos: 12 deletions", "review Photos: 12 deletions"));
}

TEST_F(Routing, aDeletedJobOrAGoneModelPostsNothing) {
    model.setJobs({});
    route(RunOutcome::failed("x"), RunTrigger::manual);
    route(RunOutcome::needsReview("x"), RunTrigger::manual);
    RunFinishedRouter::route(RunRecord{}, nullptr, notices, [&](const Uuid&) { opened.push_back("open"); });
    EXPECT_TRUE(notices.posts.empty());
    EXPECT_TRUE(opened.empty());
}

TEST(AppRuntime, unmountsAreForwardedWithNoWindowAndMountsAreNot) {
    ManualClock clock{Date::fromUnix(1'772'373'909)};
    ManualExecutor main{clock};
    test::FakeVolumeEvents events;
    std::vector<std::filesystem::path> unmounted;
    Subscription forwarding = AppRuntime::forwardUnmounts(
        events, main, [&](const std::filesystem::path& volume) { unmounted.push_back(volume); });
    events.send(VolumeEvent::mounted("/media/a"));
    events.send(VolumeEvent::unmounted("/media/b"));
    main.runPending();
    EXPECT_THAT(unmounted, ElementsAre("/media/b"));
}

TEST(AppRuntime, aBundleWithoutAnExecutableRsyncFailsNamingThePath) {
    test::TemporaryFolder bundle;
    std::filesystem::create_directories(bundle / "Contents/Helpers");
    std::ofstream(bundle / "Contents/Helpers/rsync") << "#!/bin/sh\n";  // not executable
    ManualClock clock{Date::fromUnix(1'772'373'909)};
    ManualExecutor main{clock};
    RecordingNotices notices;
    try {
        AppRuntime runtime({.bundleRoot = bundle.path(), .folders = {bundle / "s", bundle / "l", bundle / "r"},
                            .main = main, .notices = notices, .openJob = {},
                            .systemEvents = nullptr, .volumeEvents = nullptr, .sleepInhibitor = nullptr,
                            .ejector = nullptr});
        FAIL() << "started without rsync";
    } catch (const RsyncLocatorError& error) {
        EXPECT_EQ(error.path(), bundle / "Contents/Helpers/rsync");
        EXPECT_NE(std::string(error.what()).find((bundle / "Contents/Helpers/rsync").string()), std::string::npos);
    }
    EXPECT_FALSE(std::filesystem::exists(bundle / "s"));  // nothing written
}
