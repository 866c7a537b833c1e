// Previews through the coordinator with rsync on real folders.

#include "SyncEngine/CancellationError.h"
#include "tests/CoordinatorRunFixture.h"

namespace kelto::test {
namespace {

std::vector<std::string> copiedTo(const SyncPlan& plan, Side side) {
    std::vector<std::string> paths;
    for (const PlannedCopy& copy : plan.copies)
        if (copy.to == side) paths.push_back(copy.path);
    std::sort(paths.begin(), paths.end());
    return paths;
}

TEST_F(CoordinatorRunTest, APreviewPlansWithRsyncAndChangesNothing) {
    tmp.write("a/new.txt", "new");
    tmp.write("a/dir/inner.txt", "inner");
    tmp.write("b/old.txt", "old");
    const Uuid mirror = addJob(SyncMode::mirror).id;
    const SyncPlan plan = coordinator.preview(mirror, {});
    EXPECT_EQ(copiedTo(plan, Side::b), (std::vector<std::string>{"dir/inner.txt", "new.txt"}));
    EXPECT_EQ(plan.deletionCount, 1);
    EXPECT_FALSE(script->calls().empty());
    EXPECT_EQ(namesIn(b), std::set<std::string>{"old.txt"});
    EXPECT_FALSE(fs::exists(tmp / "logs"));
    // A preview already stopped resolves and then starts no rsync.
    const std::size_t callsBefore = script->calls().size();
    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(coordinator.preview(mirror, stop.get_token()), CancellationError);
    EXPECT_EQ(script->calls().size(), callsBefore);
    // A two-way job that never ran leaves no baseline behind.
    const Uuid twoWay = addJob(SyncMode::twoWay).id;
    const SyncPlan both = coordinator.preview(twoWay, {});
    EXPECT_EQ(copiedTo(both, Side::b), (std::vector<std::string>{"dir/inner.txt", "new.txt"}));
    EXPECT_EQ(copiedTo(both, Side::a), std::vector<std::string>{"old.txt"});
    EXPECT_FALSE(fs::exists(tmp / "support/state"));
    EXPECT_EQ(namesIn(a), (std::set<std::string>{"dir", "new.txt"}));
    EXPECT_EQ(namesIn(b), std::set<std::string>{"old.txt"});
}

}  // namespace
}  // namespace kelto::test
