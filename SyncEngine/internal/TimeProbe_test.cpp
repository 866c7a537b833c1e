#include "SyncEngine/internal/TimeProbe.h"

#include "tests/support/TemporaryFolder.h"
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

using namespace kelto;
namespace fs = std::filesystem;

namespace {

constexpr std::int64_t year2500 = 16'725'225'600;
constexpr std::int64_t year1900 = -2'208'988'800;

// What this folder's file system makes of the time, on a file of its own.
std::int64_t keptByAFileIn(const fs::path& folder, std::int64_t seconds) {
    const fs::path file = folder / "probe";
    { std::ofstream(file) << "x"; }
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    EXPECT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    struct stat info {};
    EXPECT_EQ(::stat(file.c_str(), &info), 0);
    fs::remove(file);
    return info.st_mtime;
}

TEST(TimeProbe, TriesOnlyTimesNotKeptEverywhereOnANamelessFileInTheReservedTemporaryFolder) {
    test::TemporaryFolder root;
    {
        TimeProbe probe(root.path());
        EXPECT_EQ(probe.kept(year2500), std::nullopt);  // no run has made the folder yet
        EXPECT_EQ(probe.kept(1'600'000'000), 1'600'000'000);
        EXPECT_TRUE(fs::is_empty(root.path()));
    }
    const fs::path scratch = root / ".KeltoSync" / "Temporary";
    fs::create_directories(scratch);
    const std::int64_t expected2500 = keptByAFileIn(scratch, year2500);
    const std::int64_t expected1900 = keptByAFileIn(scratch, year1900);
    TimeProbe probe(root.path());
    EXPECT_EQ(probe.kept(year2500), expected2500);
    EXPECT_EQ(probe.kept(year1900), expected1900);
    EXPECT_EQ(probe.kept(year2500), expected2500);  // asked again
    EXPECT_TRUE(probe.keepsAs(year2500, expected2500 + 2, 2));
    EXPECT_FALSE(probe.keepsAs(year2500, expected2500 + 3, 2));
    EXPECT_TRUE(fs::is_empty(scratch));
    // A link in the reserved folder's place is never followed.
    test::TemporaryFolder elsewhere;
    fs::create_directories(elsewhere / "Temporary");
    fs::remove_all(root / ".KeltoSync");
    fs::create_directory_symlink(elsewhere.path(), root / ".KeltoSync");
    EXPECT_EQ(TimeProbe(root.path()).kept(year2500), std::nullopt);
    EXPECT_FALSE(TimeProbe::keptEverywhere(315'532'800));  // 1980-01-01: FAT's first day, in its local time
    EXPECT_TRUE(TimeProbe::keptEverywhere(315'532'800 + 86'400));
    EXPECT_TRUE(TimeProbe::keptEverywhere(2'147'483'647 - 86'400));
    EXPECT_FALSE(TimeProbe::keptEverywhere(2'147'483'647));  // the last second of 32-bit times
    EXPECT_FALSE(TimeProbe::keptEverywhere(-1));
}

}  // namespace
