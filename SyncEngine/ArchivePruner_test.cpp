#include "SyncEngine/ArchivePruner.h"

#include "SyncEngine/ArchiveDirectories.h"
#include "tests/support/TemporaryFolder.h"

#include <date/tz.h>
#include <gtest/gtest.h>

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
    std::int64_t prune(std::optional<std::int64_t> days) {
        // 10 April 2025, 12:00 in Berlin (summer time).
        return ArchivePruner::prune(folder.path(), job, days, Date::fromUnix(1744279200), berlin);
    }
};

}  // namespace

TEST_F(ArchivePrunerTest, RetentionCountsCalendarDaysAcrossADaylightSavingChange) {
    // Thirty days back is 11 March, 12:00 winter time; 24-hour days would
    // land an hour earlier and keep the first folder.
    runFolder("2025-03-11_115959-0a1b2c3d");
    runFolder("2025-03-11_120000-0a1b2c3d");
    runFolder("2025-04-10_115959-0a1b2c3d");
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
