#include "SyncEngine/SafetyGuard.h"

#include <gtest/gtest.h>

using namespace kelto;

namespace {

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

GuardVerdict asks(const std::string& message) { return GuardVerdict::needsConfirmation(message); }
const GuardVerdict proceed = GuardVerdict::proceed();
const GuardVerdict noSpace = GuardVerdict::abort(AbortReason::insufficientSpace);

}  // namespace

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
    // Unmeasured sides and sides without copies are not checked.
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

TEST(SafetyGuard, SideCountsCodeWithKeysAAndB) {
    EXPECT_EQ(JsonText::encode(SideCounts{3, 4}), R"({"a":3,"b":4})");
    EXPECT_EQ(JsonText::decode<SideCounts>(R"({"b":2,"a":1})"), (SideCounts{1, 2}));
}
