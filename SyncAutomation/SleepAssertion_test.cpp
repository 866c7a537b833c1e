#include "SyncAutomation/SleepAssertion.h"

#include "tests/support/FakeSleepInhibitor.h"

#include <gtest/gtest.h>

namespace kelto {
namespace {

TEST(SleepAssertion, HoldsOneInhibitionUntilReleasedAndReleasesItOnce) {
    test::FakeSleepInhibitor inhibitor;
    {
        SleepAssertion assertion(inhibitor, std::string(SleepAssertion::runReason));
        EXPECT_EQ(inhibitor.reasons(), std::vector<std::string>{"Kelto Sync is synchronizing folders"});
        EXPECT_TRUE(assertion.isHeld());
        EXPECT_EQ(inhibitor.releases(), 0u);
        assertion.release();
        EXPECT_FALSE(assertion.isHeld());
        EXPECT_EQ(inhibitor.releases(), 1u);
        assertion.release();
    }
    EXPECT_EQ(inhibitor.takes(), 1u);
    EXPECT_EQ(inhibitor.granted(), 1u);
    EXPECT_EQ(inhibitor.releases(), 1u);
}

TEST(SleepAssertion, DestructionReleasesAnInhibitionStillHeld) {
    test::FakeSleepInhibitor inhibitor;
    std::optional<SleepAssertion> assertion(std::in_place, inhibitor, "reason");
    EXPECT_EQ(inhibitor.releases(), 0u);
    assertion.reset();
    EXPECT_EQ(inhibitor.takes(), 1u);
    EXPECT_EQ(inhibitor.releases(), 1u);
}

TEST(SleepAssertion, ARefusedInhibitionLeavesNothingToRelease) {
    test::FakeSleepInhibitor inhibitor;
    inhibitor.refuse();
    {
        SleepAssertion assertion(inhibitor, "reason");
        EXPECT_FALSE(assertion.isHeld());
        assertion.release();
        assertion.release();
    }
    EXPECT_EQ(inhibitor.takes(), 1u);
    EXPECT_EQ(inhibitor.granted(), 0u);
    EXPECT_EQ(inhibitor.releases(), 0u);
}

TEST(SleepAssertion, EachAssertionHoldsItsOwnInhibition) {
    test::FakeSleepInhibitor inhibitor;
    SleepAssertion first(inhibitor, "first");
    {
        SleepAssertion second(inhibitor, "second");
        first.release();
        EXPECT_TRUE(second.isHeld());
        EXPECT_EQ(inhibitor.releases(), 1u);
    }
    EXPECT_EQ(inhibitor.reasons(), (std::vector<std::string>{"first", "second"}));
    EXPECT_EQ(inhibitor.releases(), 2u);
}

}  // namespace
}  // namespace kelto
