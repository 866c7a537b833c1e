#include <QCoreApplication>
#include <QTest>

#include "Kelto_Sync/App/QtMainExecutor.h"

#include <gtest/gtest.h>

#include <thread>

using namespace kelto;
using namespace std::chrono;

TEST(QtMainExecutor, longWaitsAreArmedInStepsAnIntCanHold) {
    EXPECT_EQ(QtMainExecutor::nextStep(hours(24 * 365)), QtMainExecutor::longestStep);
    EXPECT_LE(QtMainExecutor::longestStep.count(), std::numeric_limits<int>::max());
    EXPECT_EQ(QtMainExecutor::nextStep(microseconds(1500)), milliseconds(2));  // never early
    EXPECT_EQ(QtMainExecutor::nextStep(-seconds(1)), milliseconds(0));
}

TEST(QtMainExecutor, postedWorkRunsInOrderOnTheLoopFromAnyThread) {
    QtMainExecutor main;
    std::vector<int> order;
    bool current = false;
    main.post([&] { order.push_back(1); });
    std::thread other([&] { main.post([&] { order.push_back(2), current = main.isCurrent(); }); });
    other.join();
    ASSERT_TRUE(QTest::qWaitFor([&] { return order.size() == 2; }));
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    EXPECT_TRUE(current);
}

TEST(QtMainExecutor, cancelledWorkNeverRunsAndCancellingFromInsideIsSafe) {
    QtMainExecutor main;
    bool cancelledRan = false, laterRan = false;
    DelayedWork cancelled = main.postAfter(0, [&] { cancelledRan = true; });
    cancelled.cancel();
    DelayedWork self;
    bool selfRan = false;
    self = main.postAfter(0.001, [&] {
        self.cancel();  // drops only what is left: nothing
        selfRan = true;
    });
    DelayedWork later = main.postAfter(std::nan(""), [&] { laterRan = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return selfRan && laterRan; }));
    QCoreApplication::processEvents();
    EXPECT_FALSE(cancelledRan);
    // A long wait is pending, not run, and its handle drops it.
    bool yearRan = false;
    { DelayedWork year = main.postAfter(365.0 * 86400, [&] { yearRan = true; }); }
    QCoreApplication::processEvents();
    EXPECT_FALSE(yearRan);
}
