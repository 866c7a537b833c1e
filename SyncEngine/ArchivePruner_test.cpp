#include "SyncEngine/ArchivePruner.h"

#include "SyncEngine/ArchiveDirectories.h"
#include "tests/support/TemporaryFolder.h"
#include <date/tz.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cstdlib>

using namespace kelto;
namespace fs = std::filesystem;

namespace {

const Uuid job = *Uuid::parse("0A1B2C3D-0000-4000-8000-00000000ABCD");

class ArchivePrunerTest : public ::testing::Test {
protected:
    test::TemporaryFolder folder;
    const ::date::time_zone* berlin = ::date::locate_zone("Europe/Berlin");
    static std::string inJob(const std::string& name) { return ".KeltoSync/Archive/" + job.string() + "/" + name; }
    void runFolder(const std::string& name) { folder.write(inJob(name) + "/item"); }
    static constexpr double now = 1744279200;  // 10 April 2025, 12:00 in Berlin (summer time)
    static constexpr double year = 365 * 86400, setBack = 24 * 365.25 * 86400;
    std::int64_t prune(std::optional<std::int64_t> days, double at = now, const std::string& own = "") {
        return ArchivePruner::prune(folder.path(), job, days, Date::fromUnix(at), berlin, own);
    }
    // A run at `at` that made its own folder first.
    std::int64_t pruneAt(std::int64_t days, double at, const std::string& own) {
        runFolder(own);
        return prune(days, at, own);
    }
};

}  // namespace

TEST_F(ArchivePrunerTest, RetentionCountsCalendarDaysAcrossADaylightSavingChange) {
    // Thirty days back is 11 March, 12:00 winter time; 24-hour days would
    // land an hour earlier and keep the first folder.
    runFolder("2025-03-11_115959-0a1b2c3d");
    runFolder("2025-03-11_120000-0a1b2c3d");
    runFolder("2025-04-10_115959-0a1b2c3d");
    runFolder("2025-04-10_120000-0a1b2c3d");  // the newest, made now: retention counts from the clock
    EXPECT_EQ(prune(std::nullopt), 0);
    EXPECT_EQ(prune(30), 1);
    EXPECT_FALSE(fs::exists(folder / inJob("2025-03-11_115959-0a1b2c3d")));
    EXPECT_TRUE(fs::exists(folder / inJob("2025-03-11_120000-0a1b2c3d")));  // exactly at the cut-off
    EXPECT_EQ(prune(0), 2);
    // A skipped wall time moves forward: 31 March 02:30 less a day is 30 March 03:30.
    EXPECT_EQ(ArchivePruner::cutOff(Date::fromUnix(1743381000), 1, *berlin), Date::fromUnix(1743298200));
}

TEST_F(ArchivePrunerTest, OnlyRealRunFoldersAreRemovedAndNothingBehindALink) {
    test::TemporaryFolder elsewhere;
    elsewhere.write("precious");
    runFolder("notes");
    runFolder("2020-01-01_000000-0A1B2C3D");
    fs::create_directory_symlink(elsewhere.path(), folder / inJob("2020-01-01_000000-0a1b2c3d"));
    folder.write(inJob("2020-01-02_000000-0a1b2c3d"));
    EXPECT_EQ(prune(0), 0);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder / inJob("")), {}), 4);
    EXPECT_TRUE(fs::exists(elsewhere / "precious"));
    fs::rename(folder / ".KeltoSync", elsewhere / "reserved");
    fs::create_directory_symlink(elsewhere / "reserved", folder / ".KeltoSync");
    runFolder("2020-01-03_000000-0a1b2c3d");  // written through the link by the test itself
    EXPECT_EQ(prune(0), 0);
    EXPECT_TRUE(fs::exists(folder / inJob("2020-01-03_000000-0a1b2c3d")));
}

TEST_F(ArchivePrunerTest, AClockRunningAheadCountsFromTheNewestArchive) {
    runFolder("2025-02-01_120000-0a1b2c3d");  // more than 30 days before the newest
    runFolder("2025-04-01_120000-0a1b2c3d");
    runFolder("2025-04-10_115000-0a1b2c3d");  // made minutes before the clock jumped
    EXPECT_EQ(prune(30, now + year), 1);
    EXPECT_FALSE(fs::exists(folder / inJob("2025-02-01_120000-0a1b2c3d")));
    // The pruning run's own folder is named by the clock that runs ahead: no evidence.
    const std::string own = "2026-04-10_120000-0a1b2c3d";
    EXPECT_EQ(pruneAt(30, now + year, own), 0);
    for (const std::string& kept : {std::string("2025-04-01_120000-0a1b2c3d"), std::string("2025-04-10_115000-0a1b2c3d"), own})
        EXPECT_TRUE(fs::exists(folder / inJob(kept))) << kept;
}

TEST_F(ArchivePrunerTest, AnArchiveMadeWhileTheClockWasBehindCountsFromWhatTheClockVouchedFor) {
    EXPECT_EQ(pruneAt(30, now, "2025-04-10_120000-0a1b2c3d"), 0);
    const std::string behind = "2001-04-10_120500-0a1b2c3d";
    EXPECT_EQ(pruneAt(30, now + 300 - setBack, behind), 0);
    EXPECT_EQ(pruneAt(30, now + 600, "2025-04-10_121000-0a1b2c3d"), 0);
    EXPECT_EQ(pruneAt(30, now + 900, "2025-04-10_121500-0a1b2c3d"), 0);
    EXPECT_TRUE(fs::exists(folder / inJob(behind)));
    // Once retention has passed from then, it goes with the others of its time.
    runFolder("2025-05-20_120000-0a1b2c3d");
    EXPECT_EQ(pruneAt(30, now + 41 * 86400, "2025-05-21_120000-0a1b2c3d"), 4);
    EXPECT_FALSE(fs::exists(folder / inJob(behind)));
    // The user's clean takes one made behind the clock at once.
    const std::string alsoBehind = "2001-05-21_120500-0a1b2c3d";
    EXPECT_EQ(pruneAt(30, now + 41 * 86400 + 300 - setBack, alsoBehind), 0);
    EXPECT_EQ(prune(0, now + 41 * 86400 + 600), 3);
}

TEST_F(ArchivePrunerTest, AnArchiveMadeBehindTheClockAtTheFirstPruningIsNotTakenForOld) {
    const std::string behind = "2001-04-10_120500-0a1b2c3d";
    runFolder("2025-04-09_120000-0a1b2c3d");  // made before retention was set
    EXPECT_EQ(pruneAt(30, now + 300 - setBack, behind), 0);
    EXPECT_EQ(pruneAt(30, now + 600, "2025-04-10_121000-0a1b2c3d"), 0);
    EXPECT_EQ(pruneAt(30, now + 900, "2025-04-10_121500-0a1b2c3d"), 0);
    EXPECT_TRUE(fs::exists(folder / inJob(behind)));
}

TEST_F(ArchivePrunerTest, TheUsersCleanTakesWhatWasMadeAfterTheClockRanAhead) {
    EXPECT_EQ(pruneAt(30, now + year, "2026-04-10_120000-0a1b2c3d"), 0);
    const std::string since = "2025-04-10_121000-0a1b2c3d";
    EXPECT_EQ(pruneAt(30, now + 600, since), 0);
    EXPECT_EQ(prune(0, now + 900), 1);
    EXPECT_FALSE(fs::exists(folder / inJob(since)));
}

TEST_F(ArchivePrunerTest, ALedgerThatIsNoFileVouchesForNothing) {
    runFolder("2025-04-10_120000-0a1b2c3d");
    const fs::path ledger = folder / ".KeltoSync/Archive" / (job.string() + ".dates");
    ASSERT_EQ(::mkfifo(ledger.c_str(), 0600), 0);
    EXPECT_EXIT(
        {
            ::alarm(10);
            std::exit(prune(30) == 0 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(ledger)));
    test::TemporaryFolder elsewhere;
    elsewhere.write("precious", "mine");
    fs::remove(ledger);
    fs::create_symlink(elsewhere / "precious", ledger);
    EXPECT_EQ(prune(30), 0);
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(ledger)));
    EXPECT_EQ(test::readFile(elsewhere / "precious"), "mine");
}

TEST_F(ArchivePrunerTest, ALedgerNeverDatesAFolderBeforeItsName) {
    const std::string fresh = "2025-04-10_115000-0a1b2c3d";
    runFolder(fresh);
    runFolder("2025-04-10_115500-0a1b2c3d");
    folder.write(".KeltoSync/Archive/" + job.string() + ".dates",
                 R"({"clock": 1744279200, "folders": {")" + fresh + R"(": 0}})");
    EXPECT_EQ(prune(30), 0);
    EXPECT_TRUE(fs::exists(folder / inJob(fresh)));
}
