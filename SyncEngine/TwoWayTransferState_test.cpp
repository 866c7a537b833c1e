#include "SyncEngine/TwoWayTransferState.h"

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

using namespace kelto;

namespace {

TEST(TwoWayTransferState, StartsFromThePlansCopiesAndSkippedFiles) {
    SyncPlan plan;
    plan.copies = {{"a", 10, Side::b}, {"b", 20, Side::a}};
    plan.skipped = {{"x", FileSkipReason::typeConflict}};
    TwoWayTransferState state(plan, -1, nullptr);
    EXPECT_EQ(state.aggregator.bytesTotal, 30);
    EXPECT_EQ(state.aggregator.filesTotal, 2);
    EXPECT_EQ(state.total, 30);
    EXPECT_EQ(state.stats, (RunStats{0, 0, 0, plan.skipped, {}}));
    EXPECT_TRUE(std::isinf(state.lastEmission) && state.lastEmission < 0);

    // A negative total is kept as it is but never reaches the aggregator;
    // absurd sizes saturate instead of wrapping.
    plan.copies = {{"a", -50, Side::b}, {"b", 20, Side::a}};
    EXPECT_EQ(TwoWayTransferState(plan, -1, nullptr).aggregator.bytesTotal, 0);
    EXPECT_EQ(TwoWayTransferState(plan, -1, nullptr).total, -30);
    plan.copies = {{"a", INT64_MAX, Side::b}, {"b", 1, Side::a}};
    EXPECT_EQ(TwoWayTransferState(plan, -1, nullptr).total, INT64_MAX);
}

TEST(TwoWayTransferState, LogKeepsTheFirstWriteFailureAndDropsLaterLines) {
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    TwoWayTransferState state(SyncPlan{}, pipeEnds[1], nullptr);
    state.writeLogLine("first");
    state.writeLogLine("Could not archive or remove: caf\xC3\xA9");
    char buffer[128] = {};
    const auto n = ::read(pipeEnds[0], buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(n)), "first\nCould not archive or remove: caf\xC3\xA9\n");
    EXPECT_FALSE(state.logError);

    ::close(pipeEnds[0]);  // the reader is gone: the next write fails with EPIPE
    signal(SIGPIPE, SIG_IGN);
    state.writeLogLine("lost");
    ASSERT_TRUE(state.logError);
    EXPECT_EQ(state.logError->errorNumber(), EPIPE);
    ::close(pipeEnds[1]);
    state.handle = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    state.writeLogLine("dropped");  // nothing more is attempted
    EXPECT_EQ(state.logError->errorNumber(), EPIPE);
    ::close(state.handle);
}

}  // namespace
