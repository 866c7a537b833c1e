// Two-way planning on real folders: the listing of both sides at once, its
// reports, its failures, and what the plan makes of the baseline and the
// receiving volumes.

#include "tests/TwoWayEngineFixture.h"

#include <chrono>
#include <thread>

namespace kelto::test {
namespace {

constexpr std::int64_t t0 = 1'600'000'000;

SyncProgress scanning(std::int64_t count, SyncPhase phase = SyncPhase::scanning) { return phaseOnly(phase, count); }

TEST_F(TwoWayEngineTest, ReportsCountSideBOnFromSideAInOrder) {
    std::vector<SyncProgress> reports;
    plan(&reports);
    EXPECT_EQ(reports, (std::vector<SyncProgress>{scanning(0), scanning(0), scanning(0), scanning(0),
                                                  scanning(0, SyncPhase::planning)}));

    for (int i = 0; i < 300; ++i) putAt(a / "dir" / ("a" + std::to_string(i)), "x", t0);
    for (int i = 0; i < 200; ++i) putAt(b / ("b" + std::to_string(i)), "x", t0);
    reports.clear();
    plan(&reports);
    // Without the per-entry reports: A from 0 to 301, then B from 301 on.
    std::vector<SyncProgress> counts;
    for (const SyncProgress& p : reports)
        if (!p.currentPath) counts.push_back(p);
    EXPECT_EQ(counts, (std::vector<SyncProgress>{scanning(0), scanning(301), scanning(301), scanning(501),
                                                 scanning(501, SyncPhase::planning)}));
    std::int64_t last = 0;
    for (const SyncProgress& p : reports) {
        EXPECT_GE(p.scannedItems, last);
        last = p.scannedItems;
    }
    EXPECT_TRUE(reports[1].currentPath);  // A's first entry reports at once
    EXPECT_EQ(reports[1].scannedItems, 1);
}

TEST_F(TwoWayEngineTest, AListingLineThatDoesNotParseFailsTheScan) {
    // rsync prints a year outside four digits as it is; on file systems with
    // 64-bit times such a file exists for real.
    engine.process.executable = fakeRsync(tmp.path(),
                                          "echo '-rw-r--r--           3 2020/01/01 00:00:00 good'\n"
                                          "echo '-rw-r--r--           3  385/07/25 07:06:40 old'\nexit 0");
    try {
        plan();
        FAIL() << "planned without the unreadable entry";
    } catch (const TwoWayEngineError& error) {
        EXPECT_EQ(error.code(), TwoWayEngineError::Code::scanFailed);
        EXPECT_EQ(error.exitCode(), TwoWayEngine::unreadableListingCode);
        EXPECT_EQ(error.stderrTail(),
                  std::vector<std::string>{"Unreadable listing line: -rw-r--r--           3  385/07/25 07:06:40 old"});
    }
}

TEST_F(TwoWayEngineTest, AFileDatedBeforeTheYear1000OnOneSideIsNeverDeletedOnTheOther) {
    // tmpfs keeps 64-bit times; rsync then lists the year with three digits.
    const fs::path shm = "/dev/shm";
    char pattern[] = "/dev/shm/kelto-test-XXXXXX";
    if (!fs::is_directory(shm) || !::mkdtemp(pattern)) GTEST_SKIP() << "no /dev/shm";
    const fs::path folder = pattern;
    a = folder / "a";
    putAt(a / "old", "o", t0);
    putAt(b / "old", "o", t0);
    ASSERT_EQ(sync().second.code, 0);
    putAt(a / "old", "o", -50'000'000'000);  // the year 385
    struct stat info {};
    const bool kept = ::stat((a / "old").c_str(), &info) == 0 && info.st_mtime == -50'000'000'000;
    if (kept) {
        EXPECT_THROW(plan(), TwoWayEngineError);
        EXPECT_TRUE(fs::exists(b / "old"));
    }
    fs::remove_all(folder);
    if (!kept) GTEST_SKIP() << "the file system here clamps such times";
}

TEST_F(TwoWayEngineTest, ListingExitCodes) {
    putAt(a / "f", "x", t0);
    engine.process.executable = fakeRsync(tmp.path(), "'" + realRsync.native() + "' \"$@\"; exit 24");
    EXPECT_EQ(plan().second.copyAtoB, std::vector<std::string>{"f"});  // vanished files are no failure

    engine.process.executable = fakeRsync(tmp.path(), "echo 'rsync: opendir failed' >&2; exit 23");
    try {
        plan();
        FAIL();
    } catch (const TwoWayEngineError& error) {
        EXPECT_EQ(error.code(), TwoWayEngineError::Code::scanFailed);
        EXPECT_EQ(error.exitCode(), 23);
        EXPECT_EQ(error.stderrTail(), std::vector<std::string>{"rsync: opendir failed"});
    }
}

TEST_F(TwoWayEngineTest, CancellingWhileListingFailsWithTheCancellationError) {
    engine.process.executable = fakeRsync(tmp.path(), "sleep 30");
    std::stop_source stop;
    std::jthread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        stop.request_stop();
    });
    BaselineStore store(baselineFile, false);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_THROW(engine.plan(job, a, b, traits, traits, store, uuidA, uuidB, stop.get_token()), CancellationError);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
}

TEST_F(TwoWayEngineTest, EndpointChecks) {
    auto failure = [&](const fs::path& x, const fs::path& y) {
        try {
            TwoWayEngine::checkEndpoints(job, x, y);
            return std::string("none");
        } catch (const TwoWayEngineError& error) {
            return std::string(error.what());
        }
    };
    fs::create_directories(tmp / "x" / "y");
    fs::create_directories(tmp / "x" / "yz");
    fs::create_directory_symlink(a, tmp / "link");
    EXPECT_EQ(failure(tmp / "x" / "y", tmp / "x" / "yz"), "none");
    EXPECT_EQ(failure(a, tmp / "link"), TwoWayEngineError::nestedEndpoints().what());
    EXPECT_EQ(failure(tmp / "x", tmp / "x" / "y"), TwoWayEngineError::nestedEndpoints().what());
    EXPECT_EQ(failure(a, tmp / "missing"), TwoWayEngineError::endpointMissing(tmp / "missing").what());
    job.destination.volume.isReadOnly = true;
    EXPECT_EQ(failure(a, b), TwoWayEngineError::readOnlyEndpoint().what());
    job.mode = SyncMode::mirror;
    EXPECT_EQ(failure(a, b), TwoWayEngineError::unsupportedMode().what());
}

TEST_F(TwoWayEngineTest, ABaselineOfOtherVolumesCarriesNoDeletionOver) {
    putAt(a / "f", "x", t0);
    putAt(b / "f", "x", t0);
    ASSERT_EQ(sync().second.code, 0);
    fs::remove(b / "f");
    uuidB = "another volume";
    const auto [syncPlan, twoWay] = plan();
    EXPECT_TRUE(twoWay.archiveOnA.empty());
    EXPECT_EQ(twoWay.copyAtoB, std::vector<std::string>{"f"});
}

TEST_F(TwoWayEngineTest, AFileTheReceivingVolumeCannotHoldIsSkippedOnce) {
    VolumeIdentity fat;
    fat.fileSystem = "vfat";
    const FileSystemTraits traitsB = FileSystemTraits::forVolume(fat);
    putAt(a / "small", "x", t0);
    putAt(b / "big-on-b", "x", t0);
    fs::resize_file(b / "big-on-b", 5'000'000'000);  // sparse; too large for B, not for A
    {
        std::ofstream(a / "big") << "";
        fs::resize_file(a / "big", 5'000'000'000);
    }
    BaselineStore store(baselineFile, false);
    const auto [syncPlan, twoWay] = engine.plan(job, a, b, traits, traitsB, store, uuidA, uuidB);
    EXPECT_EQ(twoWay.copyAtoB, std::vector<std::string>{"small"});
    EXPECT_EQ(twoWay.copyBtoA, std::vector<std::string>{"big-on-b"});
    EXPECT_EQ(twoWay.skipped, (std::vector<SkippedFile>{{"big", FileSkipReason::tooLargeForFAT}}));
    EXPECT_EQ(syncPlan.skipped, twoWay.skipped);
    EXPECT_EQ(syncPlan.copies.size(), 2u);
}

}  // namespace
}  // namespace kelto::test
