#include "SyncEngine/UnchangedCheck.h"

#include "tests/support/TemporaryFolder.h"
#include <gtest/gtest.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>

using namespace kelto;
namespace fs = std::filesystem;

namespace {

void setMtime(const fs::path& path, std::int64_t seconds) {
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

TEST(UnchangedCheck, ComparesKindTimeAndSizeWithoutFollowingLinks) {
    test::TemporaryFolder tmp;
    const fs::path& root = tmp.path();
    tmp.write("f", "12345");
    setMtime(root / "f", 1000);
    fs::create_directories(root / "d");
    setMtime(root / "d", 2000);
    fs::create_symlink("f", root / "l");
    setMtime(root / "l", 3000);
    const SideEntry file{"f", EntryKind::file, 5, 1000};
    const SideEntry folder{"d", EntryKind::directory, 4096, 2000};
    const SideEntry link{"l", EntryKind::symlink, 1, 3000};
    EXPECT_TRUE(UnchangedCheck::isUnchanged(file, root));
    EXPECT_TRUE(UnchangedCheck::isUnchanged(SideEntry{"d", EntryKind::directory, 1, 2000}, root));  // size ignored
    EXPECT_TRUE(UnchangedCheck::isUnchanged(link, root));
    EXPECT_FALSE(UnchangedCheck::isUnchanged(SideEntry{"f", EntryKind::file, 5, 1001}, root));
    EXPECT_FALSE(UnchangedCheck::isUnchanged(SideEntry{"f", EntryKind::file, 6, 1000}, root));
    EXPECT_FALSE(UnchangedCheck::isUnchanged(SideEntry{"l", EntryKind::file, 5, 1000}, root));  // the link, not its target
    EXPECT_FALSE(UnchangedCheck::isUnchanged(SideEntry{"missing", EntryKind::file, 5, 1000}, root));
    EXPECT_FALSE(UnchangedCheck::isUnchanged(SideEntry{"../f", EntryKind::file, 5, 1000}, root));
    // The same entry seen through a symbolic-link folder is refused.
    fs::create_directory_symlink(root / "d", root / "dl");
    tmp.write("d/g", "1");
    setMtime(root / "d" / "g", 5);
    EXPECT_TRUE(UnchangedCheck::isUnchanged(SideEntry{"d/g", EntryKind::file, 1, 5}, root));
    EXPECT_FALSE(UnchangedCheck::isUnchanged(SideEntry{"dl/g", EntryKind::file, 1, 5}, root));
    // A file that became a folder.
    fs::remove(root / "f");
    fs::create_directories(root / "f");
    setMtime(root / "f", 1000);
    EXPECT_FALSE(UnchangedCheck::isUnchanged(file, root));
}

}  // namespace
