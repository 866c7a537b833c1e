// Two-way planning on real folders.

#include "tests/TwoWayEngineFixture.h"

#include <sys/mount.h>
#include <unistd.h>

#include <latch>
#include <memory>

namespace kelto::test {
namespace {

TEST_F(TwoWayEngineTest, ReportsCountSideBOnFromSideAInOrder) {
    for (int i = 0; i < 300; ++i) putAt(a / "dir" / ("a" + std::to_string(i)), "x", t0);
    for (int i = 0; i < 200; ++i) putAt(b / ("b" + std::to_string(i)), "x", t0);
    std::vector<SyncProgress> reports;
    plan(&reports);
    // Without the per-entry reports: A from 0 to 301, then B from 301 on.
    std::vector<SyncProgress> counts;
    std::copy_if(reports.begin(), reports.end(), std::back_inserter(counts), [](auto& p) { return !p.currentPath; });
    EXPECT_EQ(counts, (std::vector<SyncProgress>{phaseOnly(SyncPhase::scanning, 0), phaseOnly(SyncPhase::scanning, 301),
                                                 phaseOnly(SyncPhase::scanning, 301), phaseOnly(SyncPhase::scanning, 501),
                                                 phaseOnly(SyncPhase::planning, 501)}));
    EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end(),
                               [](auto& x, auto& y) { return x.scannedItems < y.scannedItems; }));
    EXPECT_EQ(reports[1].scannedItems, 1);  // A's first entry reports at once
}

TEST_F(TwoWayEngineTest, AListingLineThatDoesNotParseFailsTheScan) {
    // A date the calendar does not have.
    const std::string good = RsyncLines::listed(EntryKind::file, 3, 1'577'836'800, "good");
    const std::string unreadable = "-rw-r--r--           3 2023/02/29 07:06:40 old";
    for (const fs::path* side : {&a, &b}) {
        SCOPED_TRACE(side->native());
        // The other side lists for real.
        script.expect(ScriptedRsyncRunner::listing(*side)).out(good + unreadable + "\n");
        try {
            plan();
            FAIL() << "planned without the unreadable entry";
        } catch (const TwoWayEngineError& error) {
            EXPECT_EQ(error.code(), TwoWayEngineError::Code::scanFailed);
            EXPECT_EQ(error.exitCode(), TwoWayEngine::unreadableListingCode);
            EXPECT_EQ(error.stderrTail(), std::vector<std::string>{"Unreadable listing line: " + unreadable});
        }
    }
}

TEST_F(TwoWayEngineTest, CancellingWhileListingFailsWithTheCancellationError) {
    std::stop_source stop;
    std::latch bListing(1);
    script.expect(ScriptedRsyncRunner::listing(b)).then([&] { bListing.count_down(); }).waitForStop();
    script.expect(ScriptedRsyncRunner::listing(a)).then([&] { bListing.wait(); }).stopAt(stop).waitForStop();
    BaselineStore store(baselineFile, false);
    EXPECT_THROW(engine.plan(job, sideA(), sideB(), store, stop.get_token()), CancellationError);
}

TEST_F(TwoWayEngineTest, AFileTheReceivingVolumeCannotHoldIsSkippedOnce) {
    VolumeIdentity fat;
    fat.fileSystem = "vfat";
    const FileSystemTraits traitsB = FileSystemTraits::forVolume(fat);
    putAt(a / "small", "x", t0);
    putAt(a / "big", "", t0);
    putAt(b / "big-on-b", "", t0);
    fs::resize_file(a / "big", 5'000'000'000);  // sparse; too large for B, not for A
    fs::resize_file(b / "big-on-b", 5'000'000'000);
    const auto [syncPlan, twoWay] = plan(nullptr, &traitsB);
    EXPECT_EQ(twoWay.copyAtoB, std::vector<std::string>{"small"});
    EXPECT_EQ(twoWay.copyBtoA, std::vector<std::string>{"big-on-b"});
    EXPECT_EQ(twoWay.skipped, (std::vector<SkippedFile>{{"big", FileSkipReason::tooLargeForFAT}}));
    EXPECT_EQ(syncPlan.skipped, twoWay.skipped);
}

TEST_F(TwoWayEngineTest, NamesThatDifferOnlyInNormalisationInOneFolderAreSkippedAsTwins) {
    const std::string composed = "caf\xC3\xA9", decomposed = "cafe\xCC\x81";
    const std::string folderComposed = "d\xC3\xA9", folderDecomposed = "de\xCC\x81";
    putAt(a / composed, "composed", t0);
    putAt(a / decomposed, "decomposed", t0);
    putAt(a / folderComposed / "one", "1", t0);
    putAt(a / folderDecomposed / "two", "2", t0);
    putAt(a / "plain", "p", t0);
    const auto [syncPlan, twoWay] = plan();
    EXPECT_EQ(twoWay.copyAtoB, std::vector<std::string>{"plain"});
    std::vector<std::string> skipped;
    for (const SkippedFile& file : twoWay.skipped) {
        EXPECT_EQ(file.reason, FileSkipReason::normalisationTwin) << file.path;
        skipped.push_back(file.path);
    }
    EXPECT_EQ(sorted(skipped), sorted({composed, decomposed, folderComposed, folderDecomposed,
                                       folderComposed + "/one", folderDecomposed + "/two"}));
    EXPECT_EQ(syncPlan.skipped, twoWay.skipped);
    const auto [stats, exit] = run(twoWay);
    EXPECT_EQ(exit.code, 0);
    EXPECT_EQ(stats.skipped, twoWay.skipped);
    EXPECT_EQ(tree(b), (std::map<std::string, std::string>{{"plain", "p"}}));
}

// No filter hides the markers from the listings: nested sides are refused both ways.
TEST_F(TwoWayEngineTest, NoFilterHidesTheMarkersFromTheListings) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to bind-mount a folder";
    tmp.write("a/one.txt", "one");
    fs::create_directories(a / ".KeltoSync/Archive");
    fs::create_directories(b / "inner");
    ASSERT_EQ(::mount(a.c_str(), (b / "inner").c_str(), nullptr, MS_BIND, nullptr), 0);
    const fs::path inner = b / "inner";
    const std::unique_ptr<const fs::path, void (*)(const fs::path*)> unmountInner(
        &inner, [](const fs::path* at) { ::umount2(at->c_str(), MNT_DETACH); });
    for (const std::vector<std::string>& patterns : {std::vector<std::string>{".*"}, {"*Marker*"}, {"inner/.K*/"}}) {
        job.filters.patterns = patterns;
        SCOPED_TRACE(patterns.front());
        for (int way = 0; way < 2; ++way) {
            try {
                plan();
                ADD_FAILURE() << "planned";
            } catch (const TwoWayEngineError& error) {
                EXPECT_EQ(error.code(), TwoWayEngineError::Code::nestedEndpoints) << error.what();
            }
            std::swap(a, b);
        }
    }
}

}  // namespace
}  // namespace kelto::test
