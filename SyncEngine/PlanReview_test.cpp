#include "SyncEngine/PlanReview.h"
#include "SyncEngine/SafetyGuard.h"

#include <gtest/gtest.h>

using namespace kelto;

namespace {

SyncPlan taking(std::vector<PlannedArchive> archives) {
    SyncPlan plan;
    plan.archives = std::move(archives);
    return plan;
}

SyncPlan plan(std::int64_t a, std::int64_t b, int archivesA = 0, int archivesB = 0) {
    SyncPlan p;
    p.entryCountA = a;
    p.entryCountB = b;
    for (int i = 0; i < archivesA; ++i) p.archives.push_back({std::to_string(i) + ".a", Side::a});
    for (int i = 0; i < archivesB; ++i) p.archives.push_back({std::to_string(i) + ".b", Side::b});
    return p;
}

GuardVerdict evaluate(const SyncPlan& p, SyncMode mode = SyncMode::mirror, std::optional<SideCounts> previous = {},
                      std::map<Side, std::int64_t> free = {}, std::int64_t minFiles = 50) {
    JobOptions options;
    options.deleteGuardPercent = 20;
    options.deleteGuardMinFiles = minFiles;
    return SafetyGuard::evaluate(p, mode, options, previous, free);
}

const ItemVersion v1 = ItemVersion::listed(EntryKind::file, 4, 100);
const ItemVersion v2 = ItemVersion::listed(EntryKind::file, 4, 101);

GuardVerdict asks(const std::string& message) { return GuardVerdict::needsConfirmation(message); }
const GuardVerdict proceed = GuardVerdict::proceed();
const GuardVerdict noSpace = GuardVerdict::abort(AbortReason::insufficientSpace);

}  // namespace

TEST(PlanReview, WhatThePlanTakesBeyondTheReviewIsComparedByEachSidesKey) {
    const SyncPlan reviewed = taking({{"docs/a.txt", Side::b}, {"caf\xC3\xA9.txt", Side::b}, {"Photo.JPG", Side::a}});
    const PlanReview::Names caseSensitive{};
    // The other normal form of a name is the same name only where the side folds names.
    EXPECT_TRUE(PlanReview::beyond(reviewed, reviewed, caseSensitive).empty());
    const SyncPlan twin = taking({{"cafe\xCC\x81.txt", Side::b}});
    EXPECT_EQ(PlanReview::beyond(reviewed, twin, caseSensitive), twin.archives);
    EXPECT_TRUE(PlanReview::beyond(reviewed, twin, {.caseSensitiveB = false}).empty());
    EXPECT_EQ(PlanReview::beyond(reviewed, twin, {.caseSensitiveA = false}), twin.archives);
    EXPECT_TRUE(PlanReview::beyond(reviewed, SyncPlan{}, caseSensitive).empty());
    const SyncPlan more = taking({{"docs/a.txt", Side::b}, {"docs/a.txt", Side::a}, {"photos/1.jpg", Side::b}});
    EXPECT_EQ(PlanReview::beyond(reviewed, more, caseSensitive),
              (std::vector<PlannedArchive>{{"docs/a.txt", Side::a}, {"photos/1.jpg", Side::b}}));
    const SyncPlan otherCase = taking({{"photo.jpg", Side::a}});
    EXPECT_EQ(PlanReview::beyond(reviewed, otherCase, caseSensitive).size(), 1u);
    EXPECT_TRUE(PlanReview::beyond(reviewed, otherCase, {.caseSensitiveA = false}).empty());
    EXPECT_EQ(PlanReview::beyond(reviewed, otherCase, {.caseSensitiveB = false}).size(), 1u);
    EXPECT_EQ(PlanReview::reason(PlanReview::beyond(reviewed, more, caseSensitive)),
              "1 file on side A that you did not review will be archived or deleted.");
    EXPECT_EQ(PlanReview::reason({{"x", Side::b}, {"y", Side::b}}),
              "2 files on side B that you did not review will be archived or deleted.");
    SCOPED_TRACE("EverythingIsBeyondAReviewOfOtherFolders");
    SyncPlan ofFolders = taking({{"a.txt", Side::b}, {"b.txt", Side::a}});
    ofFolders.seen = {{"a.txt", Side::b, v1}, {"b.txt", Side::a, v1}};
    ofFolders.folderA = FolderIdentity{1, 10};
    ofFolders.folderB = FolderIdentity{2, 20};
    EXPECT_TRUE(PlanReview::beyond(ofFolders, ofFolders, {}).empty());
    for (const auto& [a, b] : std::vector<std::pair<std::optional<FolderIdentity>, std::optional<FolderIdentity>>>{
             {FolderIdentity{1, 10}, FolderIdentity{3, 20}},
             {FolderIdentity{1, 11}, FolderIdentity{2, 20}},
             {FolderIdentity{2, 20}, FolderIdentity{1, 10}},
             {FolderIdentity{1, 10}, std::nullopt}}) {
        SyncPlan plan = ofFolders;
        plan.folderA = a;
        plan.folderB = b;
        EXPECT_EQ(PlanReview::beyond(ofFolders, plan, {}), plan.archives);
    }
    SCOPED_TRACE("TwoSpellingsOfOneKeyInThePlanAreTwoItems");
    const std::string nfc = "caf\xC3\xA9.txt", nfd = "cafe\xCC\x81.txt";
    const PlanReview::Names foldingB{.caseSensitiveB = false};
    const auto plan = [](std::vector<SeenVersion> seen) {
        SyncPlan out;
        for (const SeenVersion& item : seen) out.archives.push_back({item.path, item.on});
        out.seen = std::move(seen);
        return out;
    };
    const SyncPlan spelled = plan({{nfc, Side::b, v1}, {"\xC3\x89t\xC3\xA9.txt", Side::b, v1}});
    for (const ItemVersion& version : {v2, v1}) {
        EXPECT_EQ(PlanReview::beyond(spelled, plan({{nfd, Side::b, version}, {nfc, Side::b, v1}}), foldingB),
                  (std::vector<PlannedArchive>{{nfd, Side::b}}));
        EXPECT_EQ(PlanReview::beyond(spelled, plan({{nfc, Side::b, v1}, {nfd, Side::b, version}}), foldingB),
                  (std::vector<PlannedArchive>{{nfd, Side::b}}));
    }
    EXPECT_EQ(PlanReview::beyond(spelled,
                                 plan({{"\xC3\xA9t\xC3\xA9.txt", Side::b, v1}, {"\xC3\x89t\xC3\xA9.txt", Side::b, v1}}),
                                 foldingB),
              (std::vector<PlannedArchive>{{"\xC3\xA9t\xC3\xA9.txt", Side::b}}));
    // Alone, the other spelling is the reviewed item as the side spells it now, unless seen in another version.
    EXPECT_TRUE(PlanReview::beyond(spelled, plan({{nfd, Side::b, v1}}), foldingB).empty());
    EXPECT_EQ(PlanReview::beyond(spelled, plan({{nfd, Side::b, v2}}), foldingB),
              (std::vector<PlannedArchive>{{nfd, Side::b}}));
    // A review that saw no version of it did not see this one.
    EXPECT_EQ(PlanReview::beyond(taking({{nfc, Side::b}}), plan({{nfc, Side::b, v1}}), foldingB),
              (std::vector<PlannedArchive>{{nfc, Side::b}}));
}

TEST(SafetyGuard, EmptyDisksAbortFirstThenSpaceKeepsOneHundredthBackThenDeletionsAskAboveTheShare) {
    SyncPlan emptySource = plan(0, 1, 0, 500);
    emptySource.copies.push_back({"big", 1'000'000, Side::b});
    for (SyncMode mode : {SyncMode::mirror, SyncMode::copy})
        EXPECT_EQ(evaluate(emptySource, mode, {}, {{Side::b, 10}}), GuardVerdict::abort(AbortReason::emptySource));
    EXPECT_EQ(evaluate(plan(0, 0)), proceed);
    const GuardVerdict emptySide = GuardVerdict::abort(AbortReason::emptySide);
    EXPECT_EQ(evaluate(plan(0, 1), SyncMode::twoWay), proceed);  // first run: nothing to compare with
    EXPECT_EQ(evaluate(plan(0, 3), SyncMode::twoWay, SideCounts{5, 0}), emptySide);
    EXPECT_EQ(evaluate(plan(3, 0), SyncMode::twoWay, SideCounts{5, 0}), proceed);
    EXPECT_EQ(evaluate(plan(3, 0), SyncMode::twoWay, SideCounts{0, 1}), emptySide);
    SyncPlan p = plan(100, 100, 100, 0);
    p.copies = {{"x", 500, Side::b}, {"y", 490, Side::b}, {"z", 5000, Side::a}};
    EXPECT_EQ(evaluate(p, SyncMode::twoWay, {}, {{Side::b, 1000}}, 500), proceed);
    p.copies[1].size = 491;
    EXPECT_EQ(evaluate(p, SyncMode::twoWay, {}, {{Side::b, 1000}}), noSpace);  // not the deletion question
    p.copies = {{"x", 150, Side::b}};
    EXPECT_EQ(evaluate(p, SyncMode::twoWay, {}, {{Side::b, 150}}), noSpace);  // 149 usable
    EXPECT_EQ(evaluate(p, SyncMode::twoWay, {}, {{Side::a, 0}}, 500), proceed);
    EXPECT_EQ(evaluate(plan(100, 100, 0, 50)), asks("50 files on side B will be archived or deleted."));
    EXPECT_EQ(evaluate(plan(1000, 1000, 0, 200)), proceed);
    EXPECT_EQ(evaluate(plan(1000, 1000, 0, 201)), asks("201 files on side B will be archived or deleted."));
    EXPECT_EQ(evaluate(plan(60, 60, 0, 49)), proceed);
    EXPECT_EQ(evaluate(plan(10, 0, 0, 1), SyncMode::mirror, {}, {}, 1),
              asks("1 file on side B will be archived or deleted."));
    EXPECT_EQ(evaluate(plan(10, 10), SyncMode::mirror, {}, {}, 0), proceed);
    EXPECT_EQ(evaluate(plan(100, 100, 60, 90), SyncMode::twoWay), asks("60 files on side A will be archived or deleted."));
}
