#include "SyncEngine/ProgressAggregator.h"

#include <gtest/gtest.h>

using namespace kelto;

TEST(ProgressAggregator, RateComesFromTheOldestSampleOfTheLastFiveSeconds) {
    ProgressAggregator aggregator(1000, 1);
    const SyncProgress first = aggregator.update(0, 0.0);
    EXPECT_EQ(first.fraction, 0.0);
    EXPECT_FALSE(first.bytesPerSecond);  // no time has passed yet
    EXPECT_FALSE(first.eta);
    aggregator.update(200, 2.0);
    aggregator.update(400, 4.0);
    const SyncProgress p = aggregator.update(500, 4.5);
    EXPECT_DOUBLE_EQ(*p.bytesPerSecond, 500.0 / 4.5);
    EXPECT_DOUBLE_EQ(*p.eta, 500.0 / (500.0 / 4.5));
    // A sample exactly five seconds old stays; an older one goes.
    EXPECT_DOUBLE_EQ(*aggregator.update(600, 5.0).bytesPerSecond, 600.0 / 5.0);
    EXPECT_DOUBLE_EQ(*aggregator.update(700, 6.0).bytesPerSecond, 500.0 / 4.0);
    // After a longer pause nothing is left to average over.
    const SyncProgress resumed = aggregator.update(800, 20.0);
    EXPECT_FALSE(resumed.bytesPerSecond);
    EXPECT_FALSE(resumed.eta);
}

TEST(ProgressAggregator, BytesNeverGoBackNorPassTheTotalAndAStallHasNoTimeLeft) {
    ProgressAggregator aggregator(1000, 1);
    aggregator.update(600, 0.0);
    const SyncProgress stalled = aggregator.update(300, 1.0);
    EXPECT_EQ(stalled.bytesDone, 600);
    EXPECT_EQ(stalled.bytesPerSecond, 0.0);
    EXPECT_FALSE(stalled.eta);
    const SyncProgress over = aggregator.update(5000, 2.0);
    EXPECT_EQ(over.bytesDone, 1000);
    EXPECT_EQ(over.fraction, 1.0);
}

TEST(ProgressAggregator, EmptyAndNegativeTotals) {
    ProgressAggregator empty(-5, -1);
    EXPECT_EQ(empty.filesTotal, 0);
    const SyncProgress p = empty.update(300, 1.0);
    EXPECT_EQ(p.fraction, 1.0);
    EXPECT_EQ(p.bytesDone, 0);
    EXPECT_EQ(p.bytesTotal, 0);

    ProgressAggregator two(10, 2);
    for (const char* path : {"a", "b", "c"}) two.recordFile(path);
    const SyncProgress last = two.update(0, 0.0);
    EXPECT_EQ(last.filesDone, 2);
    EXPECT_EQ(last.currentPath, "c");
}
