#include "Platform/System/LogindSleepInhibitor.h"
#include "SyncAutomation/SleepAssertion.h"

#include "tests/support/FakeLogind.h"
#include "tests/support/PrivateBus.h"

#include <fcntl.h>

#include <gtest/gtest.h>

namespace kelto {
namespace {

using namespace std::chrono_literals;

// Generous: the bus daemon lets go of its copy of the descriptor at once.
constexpr auto releaseTimeout = 10s;

class LogindSleepInhibitorTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!bus.running()) GTEST_SKIP() << bus.reason();
    }
    test::PrivateBus bus;
    LogindSleepInhibitor inhibitor;
};

TEST_F(LogindSleepInhibitorTest, BlocksSleepAndIdleForTheRunUntilReleasedAndARefusalOrNoLogindOrNoBusHoldsNothing) {
    EXPECT_FALSE(inhibitor.take("reason"));
    {
        test::FakeLogind logind(bus.address());
        SleepAssertion assertion(inhibitor, std::string(SleepAssertion::runReason));
        const std::vector<test::FakeLogind::InhibitCall> expected{
            {"sleep:idle", "Kelto Sync", "Kelto Sync is synchronizing folders", "block"}};
        EXPECT_EQ(logind.calls(), expected);
        EXPECT_TRUE(assertion.isHeld());
        EXPECT_FALSE(logind.released(0));
        assertion.release();
        EXPECT_TRUE(logind.waitForRelease(0, releaseTimeout));
        assertion.release();
        EXPECT_EQ(logind.calls().size(), 1u);
        {
            SleepAssertion dropped(inhibitor, "reason");
            EXPECT_FALSE(logind.released(1));
        }
        EXPECT_TRUE(logind.waitForRelease(1, releaseTimeout)) << "destruction releases";
        // A child such as rsync must not inherit the lock.
        const auto held = inhibitor.take("reason");
        ASSERT_TRUE(held);
        EXPECT_NE(::fcntl(held->get(), F_GETFD) & FD_CLOEXEC, 0);
        logind.refuse();
        SleepAssertion refused(inhibitor, "reason");
        EXPECT_FALSE(refused.isHeld());
        refused.release();
        EXPECT_EQ(logind.calls().size(), 4u);
        EXPECT_EQ(logind.granted(), 3u);
    }
    test::SystemBusAddress missing(bus.address() + "-none");
    LogindSleepInhibitor withoutBus;
    SleepAssertion assertion(withoutBus, "reason");
    EXPECT_FALSE(assertion.isHeld());
    assertion.release();
}

}  // namespace
}  // namespace kelto
