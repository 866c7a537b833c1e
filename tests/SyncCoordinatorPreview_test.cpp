// Previews through the coordinator with rsync on real folders.

#include "SyncAutomation/SyncCoordinator.h"
#include "SyncAutomation/VolumeInspector.h"
#include "SyncEngine/CancellationError.h"
#include "SyncEngine/RsyncLocator.h"
#include "SyncEngine/RsyncProcess.h"
#include "tests/support/FakeSleepInhibitor.h"
#include "tests/support/FakeVolumeEjector.h"
#include "tests/support/FakeVolumeSource.h"
#include "tests/support/ScriptedRsyncRunner.h"
#include "tests/support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace kelto {
namespace {

namespace fs = std::filesystem;
using test::namesIn;
using test::volumeIdentity;

struct CoordinatorPreview : ::testing::Test {
    test::TemporaryFolder tmp;
    test::FakeVolumeSource source;
    std::vector<SyncJob> jobs;
    RunHistoryStore history{tmp / "support/history", tmp / "logs"};
    RsyncProcess rsync{RsyncLocator::requireExecutable(KELTO_BUNDLE_DIR)};
    std::shared_ptr<test::ScriptedRsyncRunner> runner = std::make_shared<test::ScriptedRsyncRunner>(rsync);
    test::FakeSleepInhibitor inhibitor;
    test::FakeVolumeEjector ejector;
    SyncCoordinator coordinator{{
        .jobs = [this] { return jobs; },
        .rsync = runner,
        .supportDirectory = tmp / "support",
        .logDirectory = tmp / "logs",
        .history = history,
        .volumes = [this] { return VolumeInspector::mountedVolumes(source); },
        .isOnBattery = [] { return false; },
        .freeSpace = SyncCoordinator::availableSpace,
        .identityAt = [this](const fs::path& path) { return VolumeInspector::identity(path, source); },
        .sleepInhibitor = inhibitor,
        .ejector = ejector,
        .clock = SystemClock::shared(),
    }};
    CoordinatorPreview() {
        source.add("/", volumeIdentity(VolumeKind::internal, "ROOT", "system"));
        tmp.write("a/new.txt", "new");
        tmp.write("a/dir/inner.txt", "inner");
        tmp.write("b/old.txt", "old");
    }
    Uuid addJob(SyncMode mode) {
        SyncJob job = SyncJob::newJob("Job");
        job.mode = mode;
        job.source = VolumeInspector::endpoint(tmp / "a", source);
        job.destination = VolumeInspector::endpoint(tmp / "b", source);
        jobs.push_back(job);
        return job.id;
    }
    static std::vector<std::string> copiedTo(const SyncPlan& plan, Side side) {
        std::vector<std::string> paths;
        for (const PlannedCopy& copy : plan.copies)
            if (copy.to == side) paths.push_back(copy.path);
        std::sort(paths.begin(), paths.end());
        return paths;
    }
};

TEST_F(CoordinatorPreview, AMirrorPreviewPlansWithRsyncAndChangesNothing) {
    const Uuid id = addJob(SyncMode::mirror);
    const SyncPlan plan = coordinator.preview(id, {});
    EXPECT_EQ(copiedTo(plan, Side::b), (std::vector<std::string>{"dir/inner.txt", "new.txt"}));
    EXPECT_EQ(plan.deletionCount, 1);
    EXPECT_FALSE(runner->calls().empty());
    EXPECT_EQ(namesIn(tmp / "b"), std::set<std::string>{"old.txt"});
    EXPECT_FALSE(fs::exists(tmp / "logs"));
    // A preview already stopped resolves and then starts no rsync.
    const std::size_t callsBefore = runner->calls().size();
    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(coordinator.preview(id, stop.get_token()), CancellationError);
    EXPECT_EQ(runner->calls().size(), callsBefore);
}

TEST_F(CoordinatorPreview, ATwoWayJobThatNeverRanLeavesNoBaselineBehind) {
    const Uuid id = addJob(SyncMode::twoWay);
    const SyncPlan plan = coordinator.preview(id, {});
    EXPECT_EQ(copiedTo(plan, Side::b), (std::vector<std::string>{"dir/inner.txt", "new.txt"}));
    EXPECT_EQ(copiedTo(plan, Side::a), std::vector<std::string>{"old.txt"});
    EXPECT_EQ(coordinator.baselineFile(id), tmp / "support/state" / (id.string() + ".sqlite"));
    EXPECT_FALSE(fs::exists(tmp / "support/state"));
    EXPECT_EQ(namesIn(tmp / "a"), (std::set<std::string>{"dir", "new.txt"}));
    EXPECT_EQ(namesIn(tmp / "b"), std::set<std::string>{"old.txt"});
}

}  // namespace
}  // namespace kelto
