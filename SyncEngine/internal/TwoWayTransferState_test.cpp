#include "SyncEngine/internal/TwoWayTransferState.h"

#include "tests/support/MemoryLog.h"
#include "SyncModel/Support/FileIO.h"
#include <gtest/gtest.h>
#include <cerrno>
#include <cmath>

using namespace kelto;

namespace {

using test::MemoryLog;

int errorNumberOf(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const FileError& e) {
        return e.errorNumber();
    }
}

TEST(TwoWayTransferState, StartsFromThePlansCopiesAndSkippedFiles) {
    MemoryLog log;
    SyncPlan plan;
    plan.copies = {{"a", 10, Side::b}, {"b", 20, Side::a}};
    plan.skipped = {{"x", FileSkipReason::typeConflict}};
    TwoWayTransferState state(plan, log, nullptr);
    EXPECT_EQ(state.aggregator.bytesTotal, 30);
    EXPECT_EQ(state.aggregator.filesTotal, 2);
    EXPECT_EQ(state.total, 30);
    EXPECT_EQ(state.stats, (RunStats{0, 0, 0, plan.skipped, {}}));
    EXPECT_TRUE(std::isinf(state.lastEmission) && state.lastEmission < 0);
    // A negative total is kept as it is but never reaches the aggregator;
    // absurd sizes saturate instead of wrapping.
    plan.copies = {{"a", -50, Side::b}, {"b", 20, Side::a}};
    EXPECT_EQ(TwoWayTransferState(plan, log, nullptr).aggregator.bytesTotal, 0);
    EXPECT_EQ(TwoWayTransferState(plan, log, nullptr).total, -30);
    plan.copies = {{"a", INT64_MAX, Side::b}, {"b", 1, Side::a}};
    EXPECT_EQ(TwoWayTransferState(plan, log, nullptr).total, INT64_MAX);
}

TEST(TwoWayTransferState, LogKeepsTheFirstWriteFailureAndDropsLaterLines) {
    MemoryLog log;
    log.failFrom = 1;
    TwoWayTransferState state(SyncPlan{}, log, nullptr);
    state.writeLogLine("Could not archive or remove: caf\xC3\xA9");
    EXPECT_FALSE(state.logError);
    state.writeLogLine("lost");
    ASSERT_TRUE(state.logError);
    EXPECT_EQ(errorNumberOf(state.logError), ENOSPC);
    log.failFrom = SIZE_MAX;
    state.writeLogLine("dropped");  // nothing more is attempted
    EXPECT_EQ(log.lines, std::vector<std::string>{"Could not archive or remove: caf\xC3\xA9"});
}

TEST(TwoWayTransferState, QuotedPathsInDiagnosticsAreUnescapedBeforeKeying) {
    MemoryLog log;
    TwoWayTransferState state(SyncPlan{}, log, nullptr);
    state.startDirection({"caf\xC3\xA9.txt", "dir/plain", "tab\tname"}, {}, "/src", "/dst");
    // rsync escapes non-ASCII and control bytes in every name it prints; the
    // decomposed spelling keys to the precomposed one.
    state.recordDiagnostic("rsync: [sender] send_files failed to open \"/src/cafe\\#314\\#201.txt\": Permission denied (13)");
    state.recordDiagnostic("rsync: [receiver] mkstemp \"/dst/./dir/plain\" failed");
    state.recordDiagnostic("rsync: link_stat \"tab\\#011name\" failed");
    state.recordDiagnostic("no quotes here");
    state.recordDiagnostic("unterminated \"/src/last");
    EXPECT_EQ(state.reported, (PathKeySet{"caf\xC3\xA9.txt", "dir/plain", "tab\tname", "last"}));
    // With code 0 only the reported keys are unconfirmed; with another code
    // every expected key rsync did not itemise joins them.
    state.recordItem({">f+++++++++", 4, "dir/plain"}, 0);
    PathKeySet unconfirmed = state.endDirection(23);
    EXPECT_EQ(unconfirmed, (PathKeySet{"caf\xC3\xA9.txt", "dir/plain", "tab\tname", "last"}));
    state.startDirection({"a", "b"}, {}, "/dst", "/src");
    state.recordItem({">f+++++++++", 1, "a"}, 0);
    EXPECT_EQ(state.endDirection(23), PathKeySet{"b"});
    state.startDirection({"a", "b"}, {}, "/dst", "/src");
    EXPECT_TRUE(state.endDirection(0).empty());
}

}  // namespace
