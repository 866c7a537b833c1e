// Times a file system or rsync's listing cannot carry as they are (tmpfs, ext4 clamping, exFAT, odd years).

#include "tests/TwoWayEngineFixture.h"

#include <gmock/gmock.h>

namespace kelto::test {
namespace {

constexpr std::int64_t year2500 = 16'725'225'600, year1900 = -2'208'988'800, year999 = -30'610'224'001,
                       year1 = -62'135'596'800, yearMinus1 = -62'198'755'200, year9999 = 253'402'300'799,
                       year10000 = 253'402'300'800;  // each at its start, year999 and year9999 at their last second

std::int64_t mtimeOf(const fs::path& file) {
    struct stat info {};
    EXPECT_EQ(::lstat(file.c_str(), &info), 0) << file;
    return info.st_mtime;
}

std::size_t archivedFiles(const fs::path& root) {
    const fs::path archive = root / ".KeltoSync" / "Archive";
    if (!fs::exists(archive)) return 0;
    std::size_t n = 0;
    for (const auto& entry : fs::recursive_directory_iterator(archive)) n += entry.is_regular_file();
    return n;
}

SkippedFile outOfRange(std::string path) { return {std::move(path), FileSkipReason::timeOutOfRange}; }

class TwoWayTimesTest : public TwoWayEngineTest {
protected:
    std::unique_ptr<TmpfsFolder> tmpfs;
    void SetUp() override {
        TwoWayEngineTest::SetUp();
        std::string whyNot;
        tmpfs = TmpfsFolder::make(whyNot);
        if (!tmpfs) GTEST_SKIP() << whyNot;
        a = *tmpfs / "a";
        b = *tmpfs / "b";
        fs::create_directories(a);
        fs::create_directories(b);
    }
};

TEST_F(TwoWayTimesTest, YearsListedWithFewerThanFourDigitsSyncWithTheirExactTimes) {
    const std::pair<const char*, std::int64_t> files[] = {
        {"y999", year999}, {"y1", year1}, {"yminus1", yearMinus1}, {"y9999", year9999}};
    for (const auto& [name, time] : files) putAt(a / name, name, time);
    const auto [syncPlan, twoWay] = plan();
    EXPECT_EQ(twoWay.copyAtoB, (Lines{"y1", "y999", "y9999", "yminus1"}));
    EXPECT_TRUE(twoWay.skipped.empty());
    EXPECT_EQ(run(twoWay).second.code, 0);
    for (const auto& [name, time] : files) EXPECT_EQ(mtimeOf(b / name), time) << name;
    // In step now: the stored baseline carries the exact times.
    const auto stored = storedBaseline();
    ASSERT_TRUE(stored);
    EXPECT_EQ(*stored->find("y999"), (BaselineEntry{EntryKind::file, 4, year999}));
    const auto [again, againTwoWay] = plan();
    EXPECT_TRUE(againTwoWay.copyAtoB.empty() && againTwoWay.copyBtoA.empty() && againTwoWay.conflicts.empty());
}

TEST_F(TwoWayTimesTest, AFileFromTheYear10000IsSkippedAndNeverTakenForAbsent) {
    startInStep({"kept", "deleted on B", "other"});
    putAt(a / "kept", "changed on A", year10000);
    putAt(a / "deleted on B", "old", year10000);
    fs::remove(b / "deleted on B");
    putAt(a / "new", "new", year10000 + 86'400 * 400);
    putAt(b / "other", "changed on B", t0 + 10);
    const auto [syncPlan, twoWay] = plan();
    const std::vector<SkippedFile> skipped{outOfRange("deleted on B"), outOfRange("kept"), outOfRange("new")};
    EXPECT_EQ(twoWay.skipped, skipped);
    EXPECT_EQ(syncPlan.skipped, skipped);
    EXPECT_TRUE(twoWay.copyAtoB.empty() && twoWay.archiveOnA.empty() && twoWay.conflicts.empty());
    EXPECT_EQ(twoWay.copyBtoA, Lines{"other"});  // the rest of the job goes on
    const auto before = storedBaseline();
    const auto [stats, exit] = run(twoWay);
    EXPECT_EQ(exit.code, 0) << ::testing::PrintToString(exit.stderrTail);
    EXPECT_EQ(stats.skipped, skipped);
    EXPECT_EQ(tree(a), (Files{{"deleted on B", "old"}, {"kept", "changed on A"}, {"new", "new"}, {"other", "changed on B"}}));
    EXPECT_EQ(tree(b), (Files{{"kept", "old"}, {"other", "changed on B"}}));
    // Their old baseline entries stay, so nothing reads as deleted later.
    const auto after = storedBaseline();
    ASSERT_TRUE(before && after);
    EXPECT_EQ(*after->find("kept"), *before->find("kept"));
    EXPECT_EQ(*after->find("deleted on B"), *before->find("deleted on B"));
}

// A tmpfs side that keeps every time and an ext4 side that clamps.
struct ClampingPair {
    std::unique_ptr<TmpfsFolder> tmpfs;
    std::unique_ptr<Ext4Volume> ext4;
    std::string whyNot;
    bool make() {
        tmpfs = TmpfsFolder::make(whyNot);
        if (tmpfs) ext4 = Ext4Volume::make(whyNot);
        return tmpfs && ext4;
    }
};

class OneWayClampTest : public OneWayEngineTest {
protected:
    ClampingPair volumes;
    void SetUp() override {
        OneWayEngineTest::SetUp();
        if (!volumes.make()) GTEST_SKIP() << volumes.whyNot;
        src = *volumes.tmpfs / "src";
        dst = *volumes.ext4 / "dst";
        fs::create_directories(src);
        fs::create_directories(dst);
        job.options.archiveEnabled = true;
    }
    // Each run with an archive folder of its own.
    std::pair<RunStats, RsyncExit> runAgain(const SyncPlan& p) {
        runID = ArchiveRunID::make(SystemClock::shared().now());
        return run(p);
    }
};

TEST_F(OneWayClampTest, ATimeTheDestinationClampsIsCopiedOnceThenSkipped) {
    putAt(src / "y2500", "future", year2500);
    putAt(src / "y1900", "past", year1900);
    putAt(src / "plain", "plain", t0);
    const auto [first, firstExit] = runAgain(plan());
    ASSERT_EQ(std::tuple(firstExit.code, first.filesCopied), std::tuple(0, 3l));
    ASSERT_TRUE(mtimeOf(dst / "y2500") != year2500 && mtimeOf(dst / "y1900") != year1900) << "ext4 kept the times";
    for (int again = 0; again < 2; ++again) {
        const SyncPlan p = plan();
        EXPECT_TRUE(p.copies.empty() && p.archives.empty()) << ::testing::PrintToString(copyPaths(p));
        EXPECT_EQ(p.skipped, (std::vector<SkippedFile>{outOfRange("y1900"), outOfRange("y2500")}));
        const auto [stats, exit] = runAgain(p);
        EXPECT_EQ(std::tuple(exit.code, stats.filesCopied), std::tuple(0, 0l));
        EXPECT_EQ(stats.skipped, p.skipped);
    }
    EXPECT_EQ(archivedFiles(dst), 0u);
    // New content is copied as ever.
    putAt(src / "y2500", "future, longer", year2500);
    const SyncPlan changed = plan();
    EXPECT_EQ(copyPaths(changed), Lines{"y2500"});
    EXPECT_EQ(changed.skipped, std::vector<SkippedFile>{outOfRange("y1900")});
    EXPECT_EQ(runAgain(changed).second.code, 0);
    EXPECT_EQ(contents(dst / "y2500"), "future, longer");
    EXPECT_EQ(archivedFiles(dst), 1u);
}

class TwoWayClampTest : public TwoWayEngineTest {
protected:
    ClampingPair volumes;
    void SetUp() override {
        TwoWayEngineTest::SetUp();
        if (!volumes.make()) GTEST_SKIP() << volumes.whyNot;
        a = *volumes.tmpfs / "a";
        b = *volumes.ext4 / "b";
        fs::create_directories(a);
        fs::create_directories(b);
    }
};

// A source rewritten while copied to a side that clamps its time: the failed stale mark is reported.
TEST_F(TwoWayClampTest, AStaleMarkTheFileSystemCannotKeepIsReported) {
    putAt(a / "y1900", "past", year1900);
    const TwoWayPlan twoWay = plan().second;
    ASSERT_EQ(twoWay.copyAtoB, Lines{"y1900"});
    script.expect(ScriptedRsyncRunner::transferTo(b)).passThrough().then([&] { putAt(a / "y1900", "PAST", year1900); });
    const RsyncExit exit = run(twoWay).second;
    EXPECT_EQ(exit.code, 23);
    EXPECT_THAT(exit.stderrTail, ::testing::Contains(::testing::StartsWith("Could not mark the copy to be copied again: y1900: ")));
}

TEST_F(TwoWayClampTest, ATimeOneSideClampsIsInStepAfterOneCopy) {
    putAt(a / "y2500", "future", year2500);
    putAt(a / "y1900", "past", year1900);
    putAt(a / "plain", "plain", t0);
    const auto [first, firstExit] = sync();
    ASSERT_EQ(std::tuple(firstExit.code, first.filesCopied), std::tuple(0, 3l));
    ASSERT_NE(mtimeOf(b / "y2500"), year2500) << "ext4 kept the time: nothing to test";
    for (int again = 0; again < 2; ++again) {
        const auto [syncPlan, twoWay] = plan();
        EXPECT_TRUE(twoWay.copyAtoB.empty() && twoWay.copyBtoA.empty() && twoWay.conflicts.empty());
        EXPECT_TRUE(syncPlan.archives.empty() && syncPlan.skipped.empty());
        EXPECT_EQ(sync().second.code, 0);
    }
    EXPECT_EQ(archivedFiles(a) + archivedFiles(b), 0u);
    // A change on either side is a change, not a conflict.
    putAt(b / "y2500", "edited on B", t0 + 50);
    putAt(a / "y1900", "edited on A", year1900 - 100);
    const auto [syncPlan, twoWay] = plan();
    EXPECT_EQ(std::tuple(twoWay.copyBtoA, twoWay.copyAtoB), std::tuple(Lines{"y2500"}, Lines{"y1900"}));
    EXPECT_TRUE(twoWay.conflicts.empty());
    EXPECT_EQ(sync().second.code, 0);
    EXPECT_EQ(contents(a / "y2500") + contents(b / "y1900"), "edited on Bedited on A");
    // And a deletion on the clamping side carries over.
    fs::remove(b / "y1900");
    EXPECT_EQ(plan().second.archiveOnA, Lines{"y1900"});
}

}  // namespace
}  // namespace kelto::test
