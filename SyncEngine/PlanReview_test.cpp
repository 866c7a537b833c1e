#include "SyncEngine/PlanReview.h"

#include <gtest/gtest.h>

using namespace kelto;

namespace {

SyncPlan taking(std::vector<PlannedArchive> archives) {
    SyncPlan plan;
    plan.archives = std::move(archives);
    return plan;
}

}  // namespace

TEST(PlanReview, WhatThePlanTakesBeyondTheReviewIsComparedByEachSidesKey) {
    const SyncPlan reviewed = taking({{"docs/a.txt", Side::b}, {"caf\xC3\xA9.txt", Side::b}, {"Photo.JPG", Side::a}});
    const PlanReview::Names caseSensitive{};
    // The same or less is not beyond; the other normal form of a name is the
    // same name only where the side folds names: elsewhere it is a twin.
    EXPECT_TRUE(PlanReview::beyond(reviewed, reviewed, caseSensitive).empty());
    const SyncPlan twin = taking({{"cafe\xCC\x81.txt", Side::b}});
    EXPECT_EQ(PlanReview::beyond(reviewed, twin, caseSensitive), twin.archives);
    EXPECT_TRUE(PlanReview::beyond(reviewed, twin, {.caseSensitiveB = false}).empty());
    EXPECT_EQ(PlanReview::beyond(reviewed, twin, {.caseSensitiveA = false}), twin.archives);
    EXPECT_TRUE(PlanReview::beyond(reviewed, SyncPlan{}, caseSensitive).empty());
    // A path reviewed on one side is not reviewed on the other.
    const SyncPlan more = taking({{"docs/a.txt", Side::b}, {"docs/a.txt", Side::a}, {"photos/1.jpg", Side::b}});
    EXPECT_EQ(PlanReview::beyond(reviewed, more, caseSensitive),
              (std::vector<PlannedArchive>{{"docs/a.txt", Side::a}, {"photos/1.jpg", Side::b}}));
    // Another case is another item only where the side tells cases apart.
    const SyncPlan otherCase = taking({{"photo.jpg", Side::a}});
    EXPECT_EQ(PlanReview::beyond(reviewed, otherCase, caseSensitive).size(), 1u);
    EXPECT_TRUE(PlanReview::beyond(reviewed, otherCase, {.caseSensitiveA = false}).empty());
    EXPECT_EQ(PlanReview::beyond(reviewed, otherCase, {.caseSensitiveB = false}).size(), 1u);
    EXPECT_EQ(PlanReview::reason(PlanReview::beyond(reviewed, more, caseSensitive)),
              "1 file on side A that you did not review will be archived or deleted.");
    EXPECT_EQ(PlanReview::reason({{"x", Side::b}, {"y", Side::b}}),
              "2 files on side B that you did not review will be archived or deleted.");
}

TEST(PlanReview, ATakingSeenInAnotherVersionThanReviewedIsBeyondTheReview) {
    const auto seenAs = [](std::vector<SeenVersion> seen) {
        SyncPlan plan = taking({{"a.txt", Side::b}, {"caf\xC3\xA9.txt", Side::a}});
        plan.seen = std::move(seen);
        return plan;
    };
    const ItemVersion v1 = ItemVersion::listed(EntryKind::file, 4, 100);
    const ItemVersion v2 = ItemVersion::listed(EntryKind::file, 4, 101);
    const SyncPlan reviewed = seenAs({{"a.txt", Side::b, v1}, {"caf\xC3\xA9.txt", Side::a, v1}});
    const PlanReview::Names foldingA{.caseSensitiveA = false};
    EXPECT_TRUE(
        PlanReview::beyond(reviewed, seenAs({{"a.txt", Side::b, v1}, {"cafe\xCC\x81.txt", Side::a, v1}}), foldingA)
            .empty());
    EXPECT_EQ(PlanReview::beyond(reviewed, seenAs({{"a.txt", Side::b, v2}, {"caf\xC3\xA9.txt", Side::a, v1}}), {}),
              (std::vector<PlannedArchive>{{"a.txt", Side::b}}));
    EXPECT_TRUE(PlanReview::beyond(reviewed, seenAs({{"caf\xC3\xA9.txt", Side::a, v1}}), {}).empty());
    EXPECT_EQ(PlanReview::beyond(seenAs({}), seenAs({{"caf\xC3\xA9.txt", Side::a, v1}}), {}),
              (std::vector<PlannedArchive>{{"caf\xC3\xA9.txt", Side::a}}));
}

TEST(PlanReview, EverythingIsBeyondAReviewOfOtherFolders) {
    SyncPlan reviewed = taking({{"a.txt", Side::b}, {"b.txt", Side::a}});
    reviewed.seen = {{"a.txt", Side::b, ItemVersion::listed(EntryKind::file, 4, 100)},
                     {"b.txt", Side::a, ItemVersion::listed(EntryKind::file, 4, 100)}};
    reviewed.folderA = FolderIdentity{1, 10};
    reviewed.folderB = FolderIdentity{2, 20};
    EXPECT_TRUE(PlanReview::beyond(reviewed, reviewed, {}).empty());
    for (const auto& [a, b] : std::vector<std::pair<std::optional<FolderIdentity>, std::optional<FolderIdentity>>>{
             {FolderIdentity{1, 10}, FolderIdentity{3, 20}},
             {FolderIdentity{1, 11}, FolderIdentity{2, 20}},
             {FolderIdentity{2, 20}, FolderIdentity{1, 10}},
             {FolderIdentity{1, 10}, std::nullopt}}) {
        SyncPlan plan = reviewed;
        plan.folderA = a;
        plan.folderB = b;
        EXPECT_EQ(PlanReview::beyond(reviewed, plan, {}), plan.archives);
    }
}

TEST(PlanReview, TwoSpellingsOfOneKeyInThePlanAreTwoItems) {
    const std::string nfc = "caf\xC3\xA9.txt", nfd = "cafe\xCC\x81.txt";
    const ItemVersion v1 = ItemVersion::listed(EntryKind::file, 4, 100);
    const ItemVersion v2 = ItemVersion::listed(EntryKind::file, 4, 101);
    const PlanReview::Names foldingB{.caseSensitiveB = false};
    const auto plan = [](std::vector<SeenVersion> seen) {
        SyncPlan out;
        for (const SeenVersion& item : seen) out.archives.push_back({item.path, item.on});
        out.seen = std::move(seen);
        return out;
    };
    const SyncPlan reviewed = plan({{nfc, Side::b, v1}, {"\xC3\x89t\xC3\xA9.txt", Side::b, v1}});
    for (const ItemVersion& twin : {v2, v1}) {
        EXPECT_EQ(PlanReview::beyond(reviewed, plan({{nfd, Side::b, twin}, {nfc, Side::b, v1}}), foldingB),
                  (std::vector<PlannedArchive>{{nfd, Side::b}}));
        EXPECT_EQ(PlanReview::beyond(reviewed, plan({{nfc, Side::b, v1}, {nfd, Side::b, twin}}), foldingB),
                  (std::vector<PlannedArchive>{{nfd, Side::b}}));
    }
    EXPECT_EQ(PlanReview::beyond(reviewed,
                                 plan({{"\xC3\xA9t\xC3\xA9.txt", Side::b, v1}, {"\xC3\x89t\xC3\xA9.txt", Side::b, v1}}),
                                 foldingB),
              (std::vector<PlannedArchive>{{"\xC3\xA9t\xC3\xA9.txt", Side::b}}));
    // Alone, the other spelling is the reviewed item as the side spells it now.
    EXPECT_TRUE(PlanReview::beyond(reviewed, plan({{nfd, Side::b, v1}}), foldingB).empty());
}
