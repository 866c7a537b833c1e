#include "SyncEngine/internal/SideStat.h"
#include "SyncModel/Support/ItemVersion.h"
#include "tests/support/TemporaryFolder.h"
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace kelto;
namespace fs = std::filesystem;

namespace {

TEST(SideStat, LooksBelowTheRootWithoutFollowingALinkAndAGoneRootHoldsNothing) {
    test::TemporaryFolder tmp;
    tmp.write("d/f", "12345");
    fs::create_directory_symlink(tmp / "d", tmp / "dl");
    ASSERT_EQ(::mkfifo((tmp / "p").c_str(), 0600), 0);
    SideStat disk(tmp.path());
    const auto kind = [&](std::string_view path) -> std::optional<EntryKind> {
        const std::optional<struct stat> info = disk.stat(path);
        if (!info) return std::nullopt;
        return ItemVersion::kindOf(info->st_mode);
    };
    EXPECT_EQ(kind("d/f"), EntryKind::file);
    EXPECT_EQ(disk.stat("d/f")->st_size, 5);
    EXPECT_EQ(kind("d"), EntryKind::directory);
    EXPECT_EQ(kind("dl"), EntryKind::symlink);  // the link itself
    EXPECT_EQ(kind("p"), EntryKind::other);
    EXPECT_EQ(kind("dl/f"), std::nullopt);  // never through the link
    EXPECT_EQ(kind("d/f/x"), std::nullopt);
    EXPECT_EQ(kind("missing/f"), std::nullopt);
    EXPECT_EQ(kind("d/f"), EntryKind::file);  // after other folders
    // A gone root holds nothing; one that cannot be opened fails each look-up.
    EXPECT_EQ(SideStat(tmp / "gone").stat("x"), std::nullopt);
    SideStat unopenable(tmp / std::string(300, 'x'));  // too long a name to open
    EXPECT_THROW(unopenable.stat("x"), FileError);
    EXPECT_THROW(unopenable.stat("y"), FileError);
}

}  // namespace
