#include "SyncAutomation/SleepAssertion.h"

#include "tests/support/FakeSleepInhibitor.h"

#include <gtest/gtest.h>

namespace kelto {
namespace {

// Each assertion holds its own inhibition until released or destroyed, and releases it once; a refused one
// has nothing to release.
TEST(SleepAssertion, HoldsItsOwnInhibitionUntilReleasedOrDestroyedAndReleasesItOnce) {
    test::FakeSleepInhibitor inhibitor;
    {
        SleepAssertion first(inhibitor, std::string(SleepAssertion::runReason));
        SleepAssertion second(inhibitor, "second");
        EXPECT_TRUE(first.isHeld());
        first.release();
        first.release();
        EXPECT_FALSE(first.isHeld());
        EXPECT_TRUE(second.isHeld());
        EXPECT_EQ(inhibitor.releases(), 1u);
    }
    EXPECT_EQ(inhibitor.reasons(), (std::vector<std::string>{"Kelto Sync is synchronizing folders", "second"}));
    EXPECT_EQ(inhibitor.releases(), 2u);
    inhibitor.refuse();
    {
        SleepAssertion refused(inhibitor, "refused");
        EXPECT_FALSE(refused.isHeld());
        refused.release();
    }
    EXPECT_EQ(inhibitor.takes(), 3u);
    EXPECT_EQ(inhibitor.granted(), 2u);
    EXPECT_EQ(inhibitor.releases(), 2u);
}

}  // namespace
}  // namespace kelto
