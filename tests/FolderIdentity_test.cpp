// A folder's identity holds while the folder stays, even where numbered afresh.

#include "SyncEngine/FolderIdentity.h"
#include "tests/support/TestVolumes.h"

#include <gtest/gtest.h>

#include <fstream>
#include <unistd.h>

using namespace kelto;
using namespace kelto::test;
namespace fs = std::filesystem;

TEST(FolderIdentityTest, StaysWhileTheFolderStaysAndChangesWithIt) {
    if (::geteuid() != 0) GTEST_SKIP() << "mounts need root";
    TemporaryFolder tmp;
    fs::create_directories(tmp / "exfat");
    TestMounts mounts;
    ASSERT_TRUE(mounts.exfat(tmp / "exfat.img", tmp / "exfat"));
    for (const fs::path& root : {tmp.path(), tmp / "exfat"}) {
        SCOPED_TRACE(root.native());
        fs::create_directories(root / "side");
        fs::create_directories(root / "other");
        const std::optional<FolderIdentity> before = FolderIdentity::of(root / "side");
        ASSERT_TRUE(before);
        // The kernel forgets the folder; exFAT through FUSE numbers it anew.
        ::sync();
        std::ofstream("/proc/sys/vm/drop_caches") << "3";
        EXPECT_TRUE(fs::is_directory(root / "other"));
        EXPECT_EQ(FolderIdentity::of(root / "side"), before);
        EXPECT_EQ(FolderIdentity::of(tmp / ".." / tmp.path().filename() / fs::relative(root / "side", tmp.path())),
                  before);
        // Where numbers are kept they tell a new folder; elsewhere the place is kept.
        const bool keepsNumbers = root == tmp.path();
        fs::rename(root / "side", root / "moved");
        EXPECT_EQ(FolderIdentity::of(root / "moved") == before, keepsNumbers);
        EXPECT_FALSE(FolderIdentity::of(root / "side"));
        fs::create_directory(root / "side");
        if (keepsNumbers) {
            EXPECT_NE(FolderIdentity::of(root / "side"), before);
        }
    }
}
