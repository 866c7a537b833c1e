#include "SyncEngine/internal/TwoWayRun.h"

#include <gtest/gtest.h>

using namespace kelto;

namespace {

TEST(TwoWayRun, NewBaselineKeepsOldEntriesBelowUnsettledKeys) {
    const SideListing a{{"d", EntryKind::directory, 4096, 5}, {"d/x", EntryKind::file, 2, 50},
                        {"same", EntryKind::file, 1, 10},       {"window", EntryKind::file, 1, 10},
                        {"kind", EntryKind::file, 1, 10},       {"only-a", EntryKind::file, 1, 10}};
    const SideListing b{{"d", EntryKind::directory, 64, 9}, {"d/x", EntryKind::file, 2, 50},
                        {"same", EntryKind::file, 1, 10},     {"window", EntryKind::file, 1, 12},
                        {"kind", EntryKind::symlink, 1, 10}};
    const Baseline old{{"d/x", {EntryKind::file, 1, 1}}, {"gone", {EntryKind::file, 7, 7}}, {"d/old", {EntryKind::file, 3, 3}}};
    const Baseline settled = TwoWayRun::newBaseline(a, b, old, {}, 1);
    EXPECT_EQ(settled, (Baseline{{"d", {EntryKind::directory, 4096, 5}}, {"d/x", {EntryKind::file, 2, 50}},
                                 {"same", {EntryKind::file, 1, 10}}}));
    EXPECT_EQ(TwoWayRun::newBaseline(a, b, old, {}, 2).size(), 4u);  // "window" agrees within 2 s
    // An unsettled folder keeps the old entries of everything below it,
    // replacing agreeing ones; keys it does not cover are settled as usual.
    const Baseline unsettled = TwoWayRun::newBaseline(a, b, old, {"d", "gone"}, 1);
    EXPECT_EQ(unsettled, (Baseline{{"d", {EntryKind::directory, 4096, 5}}, {"d/old", {EntryKind::file, 3, 3}},
                                   {"d/x", {EntryKind::file, 1, 1}}, {"gone", {EntryKind::file, 7, 7}},
                                   {"same", {EntryKind::file, 1, 10}}}));
    // Agreed files held at `racyFrom` or later are marked racy; an old entry
    // kept keeps its mark, and is marked where the old marks are unknown.
    EXPECT_EQ(TwoWayRun::newBaseline(a, b, old, {}, 1, nullptr, {}, 10).racyKeys(),
              (std::vector<std::string>{"d/x", "same"}));
    Baseline::Builder unknown;
    unknown.add("gone", {EntryKind::file, 7, 7});
    unknown.marksUnknown();
    EXPECT_EQ(TwoWayRun::newBaseline(a, b, std::move(unknown).build(), {"gone"}, 1, nullptr, {}, 50).racyKeys(),
              (std::vector<std::string>{"d/x", "gone"}));
}

TEST(TwoWayRun, NewBaselineTakesTheTimeAsGivenWhereOneSideClampedIt) {
    // Side B's file system keeps no time past 1000; A's keeps every time.
    const TwoWayPlanner::KeptTime clampOnB = [](Side side, std::int64_t t) -> std::optional<std::int64_t> {
        return side == Side::b ? std::min<std::int64_t>(t, 1000) : t;
    };
    SideEntry untimed{"untimed", EntryKind::file, 1, 0};
    untimed.timeKnown = false;
    const SideListing a{{"to-b", EntryKind::file, 1, 2000}, {"to-a", EntryKind::file, 1, 1000},
                        {"other", EntryKind::file, 1, 2000}, untimed};
    const SideListing b{{"to-b", EntryKind::file, 1, 1000}, {"to-a", EntryKind::file, 1, 3000},
                        {"other", EntryKind::file, 1, 990}, untimed};
    EXPECT_EQ(TwoWayRun::newBaseline(a, b, {}, {}, 1, clampOnB),
              (Baseline{{"to-b", {EntryKind::file, 1, 2000}}}));
    EXPECT_EQ(TwoWayRun::newBaseline(a, b, {}, {}, 1), Baseline{});
    // The same with the sides the other way round: A's time is the one given.
    const TwoWayPlanner::KeptTime clampOnA = [&](Side side, std::int64_t t) {
        return clampOnB(side == Side::a ? Side::b : Side::a, t);
    };
    EXPECT_EQ(TwoWayRun::newBaseline(b, a, {}, {}, 1, clampOnA),
              (Baseline{{"to-b", {EntryKind::file, 1, 2000}}}));
}

TEST(TwoWayRun, RenamesRespellTheLeadingComponentsTheyShare) {
    TwoWayRun::Renames renames;
    EXPECT_EQ(renames.apply("docs/x"), "docs/x");
    renames.add("docs/photo.JPG", "Docs/Photo.jpg");
    EXPECT_EQ(renames.apply("docs/photo.JPG"), "Docs/Photo.jpg");
    EXPECT_EQ(renames.apply("docs/other"), "Docs/other");
    EXPECT_EQ(renames.apply("docsx/photo.JPG"), "docsx/photo.JPG");
    EXPECT_EQ(renames.apply("docs"), "Docs");
    EXPECT_EQ(renames.apply("Docs/other"), "Docs/other");
}

}  // namespace
