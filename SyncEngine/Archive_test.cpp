// The archive: run identifiers, the reserved folders, moving items into a run's folder and pruning old runs.

#include "SyncEngine/ArchiveDirectories.h"
#include "SyncEngine/ArchiveDirectoriesError.h"
#include "SyncEngine/ArchiveMover.h"
#include "SyncEngine/ArchivePruner.h"
#include "SyncEngine/ArchiveRunID.h"
#include "SyncModel/Support/FileIO.h"
#include "tests/support/TemporaryFolder.h"
#include "tests/support/TestVolumes.h"
#include <date/tz.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <cstdlib>

using namespace kelto;
namespace fs = std::filesystem;
using Failures = std::vector<std::pair<std::string, int>>;

namespace {

const Uuid job = *Uuid::parse("0A1B2C3D-0000-4000-8000-00000000ABCD");
const std::string runID = "2025-03-07_141503-0a1b2c3d";
const ::date::time_zone* utc() { return ::date::locate_zone("UTC"); }
const ::date::time_zone* berlin() { return ::date::locate_zone("Europe/Berlin"); }

TEST(ArchiveRunID, ReadsLocalTimeAndRefusesAnyOtherFormOrATimeSkippedByDaylightSaving) {
    EXPECT_EQ(ArchiveRunID::date("2025-03-07_141503-0a1b2c3d", *berlin()), Date::fromUnix(1741353303));
    EXPECT_EQ(ArchiveRunID::date("2025-03-07_141503-0a1b2c3d", *utc()), Date::fromUnix(1741356903));
    for (const char* text : {"2025-03-07_141503-0A1B2C3D", "2025-03-07_141503_0a1b2c3d", "2025-03-07_141503-0a1b2c3",
                             "2025-03-07_141503-0a1b2c3d0", "2025-02-30_120000-0a1b2c3d", "2025-03-07_241503-0a1b2c3d",
                             "+025-03-07_141503-0a1b2c3d"})
        EXPECT_FALSE(ArchiveRunID::date(text, *utc())) << text;
    // Berlin's clocks went from 02:00 to 03:00 on 30 March 2025.
    EXPECT_FALSE(ArchiveRunID::date("2025-03-30_023000-0a1b2c3d", *berlin()));
    EXPECT_TRUE(ArchiveRunID::date("2025-03-30_023000-0a1b2c3d", *utc()));
    // 02:30 happened twice on 26 October; it reads as the first time.
    EXPECT_EQ(ArchiveRunID::date("2025-10-26_023000-0a1b2c3d", *berlin()), Date::fromUnix(1761438600));
}

TEST(ArchiveRunID, MadeIdentifiersAre26BytesAndReadBackToTheWholeSecondInTheZoneTZNames) {
    const std::string id = ArchiveRunID::make(Date::fromUnix(1741353303.75), *berlin());
    ASSERT_EQ(id.size(), 26u);
    EXPECT_EQ(ArchiveRunID::date(id, *berlin()), Date::fromUnix(1741353303));  // read only in the one form
    EXPECT_NE(ArchiveRunID::make(Date::fromUnix(1741353303), *berlin()), id);
    const char* saved = std::getenv("TZ");
    const std::string previous = saved ? saved : "";
    ::setenv("TZ", ":Europe/Berlin", 1);
    EXPECT_EQ(ArchiveRunID::currentZone().name(), "Europe/Berlin");
    saved ? ::setenv("TZ", previous.c_str(), 1) : ::unsetenv("TZ");
}

class ArchiveTest : public ::testing::Test {
protected:
    test::TemporaryFolder folder;
    test::TemporaryFolder elsewhere;
    fs::path root() const { return folder.path(); }
};

class ArchiveDirectoriesTest : public ArchiveTest {
protected:
    void prepare(const std::string& id = runID) { ArchiveDirectories::prepareTree(root(), job, id, utc()); }
    bool safe(std::string_view path, bool allowReserved = false) {
        return ArchiveDirectories::isSafeRelativePath(path, root(), allowReserved);
    }
};

TEST_F(ArchiveDirectoriesTest, PrepareTreeMakesTheLayoutAgainAndRefusesBadIdentifiersLinksAndFilesMakingNoParents) {
    EXPECT_THROW(prepare("2025-03-07_141503-0A1B2C3D"), ArchiveDirectoriesError);
    EXPECT_TRUE(fs::is_empty(root()));
    prepare();
    EXPECT_TRUE(fs::is_directory(folder / ".KeltoSync/Partial"));
    EXPECT_TRUE(fs::is_directory(folder / ".KeltoSync/Holding"));
    EXPECT_TRUE(fs::is_directory(folder / (".KeltoSync/Archive/0A1B2C3D-0000-4000-8000-00000000ABCD/" + runID)));
    EXPECT_TRUE(ArchiveDirectories::treeExists(root(), job));
    folder.write(ArchiveDirectories::runFolderRelativePath(job, runID) + "/kept");
    prepare();
    EXPECT_TRUE(fs::exists(folder / (ArchiveDirectories::runFolderRelativePath(job, runID) + "/kept")));
    fs::remove_all(folder / ".KeltoSync");
    fs::create_directory_symlink(elsewhere.path(), folder / ".KeltoSync");
    EXPECT_THROW(prepare(), ArchiveDirectoriesError);
    EXPECT_TRUE(fs::is_empty(elsewhere.path()));
    EXPECT_FALSE(ArchiveDirectories::treeExists(root(), job));
    fs::remove(folder / ".KeltoSync");
    folder.write(".KeltoSync/Partial");
    EXPECT_THROW(prepare(), ArchiveDirectoriesError);
    EXPECT_FALSE(fs::exists(folder / (".KeltoSync/Archive/" + job.string())));
    try {
        ArchiveDirectories::prepareTree(folder / "missing", job, runID, utc());
        FAIL() << "prepareTree succeeded";
    } catch (const FileError& error) {
        EXPECT_EQ(error.errorNumber(), ENOENT);
        EXPECT_EQ(error.path(), folder / "missing/.KeltoSync");
    }
    EXPECT_FALSE(fs::exists(folder / "missing"));
}

TEST_F(ArchiveDirectoriesTest, SafePathsAreCleanRelativeAndPassThroughNoLinkOrFile) {
    for (std::string_view bad : {"", "/a", "a//b", "a/", "a/./b", "a/../b", ".."}) EXPECT_FALSE(safe(bad, true)) << bad;
    EXPECT_FALSE(safe(std::string_view("a\0b", 3)));
    EXPECT_FALSE(safe(".KeltoSync/Archive/x"));
    EXPECT_TRUE(safe(".KeltoSync/Archive/x", true));
    EXPECT_TRUE(safe("missing/deeper/file"));
    fs::create_directories(elsewhere / "b");
    fs::create_directory_symlink(elsewhere.path(), folder / "a");
    EXPECT_FALSE(safe("a/b/c"));
    fs::remove(folder / "a");
    fs::create_directory(folder / "a");
    fs::create_symlink(elsewhere.path(), folder / "a/c");
    EXPECT_TRUE(safe("a/c"));  // the last piece is not judged
    EXPECT_FALSE(safe("a/c/d"));
    folder.write("a/file");
    EXPECT_FALSE(safe("a/file/x"));
}

Failures summary(const std::vector<ArchiveMover::Failure>& failures) {
    Failures out;
    for (const ArchiveMover::Failure& failure : failures) out.emplace_back(failure.path, failure.reason.errorNumber());
    return out;
}

class ArchiveMoverTest : public ArchiveTest {
protected:
    fs::path archived(const std::string& path) const {
        return folder / (ArchiveDirectories::runFolderRelativePath(job, runID) + "/" + path);
    }
    Failures archive(const std::vector<std::string>& paths, bool enabled = true, const std::string& id = runID) {
        return summary(ArchiveMover::archive(paths, folder.path(), job, id, enabled, std::stop_token{}, utc()));
    }
};

TEST_F(ArchiveMoverTest, ArchivingMovesItemsToTheirPathInTheRunFolderAndNeverReplaces) {
    folder.write("docs/a.txt", "first");
    folder.write("dir/inner", "one");
    EXPECT_EQ(archive({"docs/a.txt", "dir", "gone.txt"}), Failures{});
    EXPECT_EQ(test::readFile(archived("docs/a.txt")), "first");
    EXPECT_EQ(test::readFile(archived("dir/inner")), "one");
    EXPECT_FALSE(fs::exists(folder / "docs/a.txt"));
    folder.write("docs/a.txt", "second");
    fs::create_directory(folder / "dir");
    const std::vector<ArchiveMover::Failure> refused =
        ArchiveMover::archive({"docs/a.txt", "dir"}, folder.path(), job, runID, true, std::stop_token{}, utc());
    EXPECT_EQ(summary(refused), (Failures{{"docs/a.txt", EEXIST}, {"dir", EEXIST}}));
    EXPECT_EQ(refused.at(0).reason.path(), folder / "docs/a.txt");
    EXPECT_EQ(test::readFile(archived("docs/a.txt")), "first");
    EXPECT_EQ(test::readFile(archived("dir/inner")), "one");
    EXPECT_EQ(test::readFile(folder / "docs/a.txt"), "second");
}

TEST_F(ArchiveMoverTest, WithTheArchiveOffItemsAreDeletedAndLinksStayLinks) {
    folder.write("tree/deep/file");
    elsewhere.write("target/file", "keep");
    fs::create_directory_symlink(elsewhere / "target", folder / "link");
    fs::create_directory_symlink(elsewhere / "target", folder / "link2");
    EXPECT_EQ(archive({"tree", "link"}, false), Failures{});
    EXPECT_EQ(archive({"link2"}), Failures{});
    EXPECT_FALSE(fs::exists(folder / "tree"));
    EXPECT_FALSE(fs::exists(fs::symlink_status(folder / "link")));
    EXPECT_TRUE(fs::is_symlink(archived("link2")));
    EXPECT_EQ(test::readFile(elsewhere / "target/file"), "keep");
}

TEST_F(ArchiveMoverTest, UnsafePathsBadRunIdentifiersAndALinkedReservedFolderLeaveItemsUntouched) {
    elsewhere.write("inside.txt");
    fs::create_directory_symlink(elsewhere.path(), folder / "linked");
    folder.write(".KeltoSync/x");
    folder.write("b.txt");
    EXPECT_EQ(archive({".KeltoSync/x", "a/../b.txt", "linked/inside.txt"}, false),
              (Failures{{".KeltoSync/x", EINVAL}, {"a/../b.txt", EINVAL}, {"linked/inside.txt", EINVAL}}));
    EXPECT_EQ(archive({"b.txt"}, true, "2025-03-07_141503"), (Failures{{"b.txt", EINVAL}}));
    EXPECT_TRUE(fs::exists(elsewhere / "inside.txt") && fs::exists(folder / ".KeltoSync/x") &&
                fs::exists(folder / "b.txt"));
    fs::remove_all(folder / ".KeltoSync");
    fs::create_directories(elsewhere / "reserved");
    fs::create_directory_symlink(elsewhere / "reserved", folder / ".KeltoSync");
    EXPECT_EQ(archive({"b.txt"}), (Failures{{"b.txt", ENOTDIR}}));
    EXPECT_TRUE(fs::exists(folder / "b.txt"));
    EXPECT_TRUE(fs::is_empty(elsewhere / "reserved"));
}

TEST_F(ArchiveMoverTest, CancellationBetweenItemsLeavesTheRestUntouched) {
    for (const char* name : {"1", "2", "3"}) folder.write(name);
    int asked = 0;
    EXPECT_EQ(summary(ArchiveMover::archive({"1", "2", "3"}, folder.path(), job, runID, true,
                                            [&] { return ++asked > 1; }, utc())),
              (Failures{{"2", ECANCELED}, {"3", ECANCELED}}));
    EXPECT_TRUE(fs::exists(archived("1")));
    EXPECT_TRUE(fs::exists(folder / "2"));
    std::stop_source source;
    source.request_stop();
    EXPECT_EQ(summary(ArchiveMover::archive({"2"}, folder.path(), job, runID, false, source.get_token(), utc())),
              (Failures{{"2", ECANCELED}}));
    EXPECT_TRUE(fs::exists(folder / "2"));
}

TEST_F(ArchiveMoverTest, EmptyFoldersGoDeepestFirstAndOthersStay) {
    fs::create_directories(folder / "a/b/c");
    folder.write("full/item");
    fs::create_directory_symlink(elsewhere.path(), folder / "link");
    EXPECT_TRUE(
        ArchiveMover::removeEmptyDirectories({"a", "a/b", "full", "a/b/c", "link", "missing/x"}, folder.path()).empty());
    EXPECT_FALSE(fs::exists(folder / "a"));
    EXPECT_TRUE(fs::exists(folder / "full/item"));
    EXPECT_TRUE(fs::is_symlink(folder / "link"));
}

TEST_F(ArchiveMoverTest, ArchivingFromAMountBelowTheRootKeepsAttributesAndLinks) {
    fs::create_directory(folder / "mnt");
    test::TestMounts mounts;
    if (!mounts.tmpfs(folder / "mnt")) GTEST_SKIP() << "cannot mount a tmpfs here";
    folder.write("mnt/docs/a.txt", "one file");
    fs::create_hard_link(folder / "mnt/docs/a.txt", folder / "mnt/docs/b.txt");
    ASSERT_EQ(::setxattr((folder / "mnt/docs/a.txt").c_str(), "user.tag", "red", 3, 0), 0);
    EXPECT_EQ(archive({"mnt/docs"}), Failures{});
    char value[4] = {};
    EXPECT_EQ(::getxattr(archived("mnt/docs/b.txt").c_str(), "user.tag", value, sizeof value), 3);
    EXPECT_STREQ(value, "red");
    EXPECT_TRUE(fs::equivalent(archived("mnt/docs/a.txt"), archived("mnt/docs/b.txt")));
    EXPECT_FALSE(fs::exists(folder / "mnt/docs"));
}

class ArchivePrunerTest : public ArchiveTest {
protected:
    static std::string inJob(const std::string& name) { return ".KeltoSync/Archive/" + job.string() + "/" + name; }
    void runFolder(const std::string& name) { folder.write(inJob(name) + "/item"); }
    static constexpr double now = 1744279200;  // 10 April 2025, 12:00 in Berlin (summer time)
    static constexpr double year = 365 * 86400, setBack = 24 * 365.25 * 86400;
    std::int64_t prune(std::optional<std::int64_t> days, double at = now, const std::string& own = "") {
        return ArchivePruner::prune(folder.path(), job, days, Date::fromUnix(at), berlin(), own);
    }
    std::int64_t pruneAt(std::int64_t days, double at, const std::string& own) {
        runFolder(own);
        return prune(days, at, own);
    }
};

TEST_F(ArchivePrunerTest, RetentionCountsCalendarDaysAcrossADaylightSavingChange) {
    // Thirty days back is 11 March, 12:00 winter time; 24-hour days would keep the first folder.
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
    EXPECT_EQ(ArchivePruner::cutOff(Date::fromUnix(1743381000), 1, *berlin()), Date::fromUnix(1743298200));
}

TEST_F(ArchivePrunerTest, OnlyRealRunFoldersAreRemovedAndNothingBehindALink) {
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

// Also when it is made at the first pruning, beside a folder made before retention was set.
TEST_F(ArchivePrunerTest, AnArchiveMadeWhileTheClockWasBehindCountsFromWhatTheClockVouchedFor) {
    for (const bool firstPruning : {false, true}) {
        SCOPED_TRACE(firstPruning ? "at the first pruning" : "after one");
        fs::remove_all(folder / ".KeltoSync");
        if (firstPruning)
            runFolder("2025-04-09_120000-0a1b2c3d");
        else
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
}

TEST_F(ArchivePrunerTest, ALedgerThatIsNoFileVouchesForNothingAndNeverDatesAFolderBeforeItsName) {
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
    elsewhere.write("precious", "mine");
    fs::remove(ledger);
    fs::create_symlink(elsewhere / "precious", ledger);
    EXPECT_EQ(prune(30), 0);
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(ledger)));
    EXPECT_EQ(test::readFile(elsewhere / "precious"), "mine");
    SCOPED_TRACE("ALedgerNeverDatesAFolderBeforeItsName");
    const std::string fresh = "2025-04-10_115000-0a1b2c3d";
    runFolder(fresh);
    std::ofstream(ledger) << R"({"clock": 1744279200, "folders": {")" + fresh + R"(": 0}})";
    EXPECT_EQ(prune(30), 0);
    EXPECT_TRUE(fs::exists(folder / inJob(fresh)));
}

}  // namespace
