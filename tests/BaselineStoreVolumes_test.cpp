#include "SyncEngine/BaselineStore.h"
#include "tests/support/TemporaryFolder.h"
#include "tests/support/TestVolumes.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

using namespace kelto;
namespace fs = std::filesystem;

// exFAT through FUSE refuses both ways of moving without replacing (the
// rename flag and hard links): a baseline is made there all the same.
TEST(BaselineStoreVolumes, ABaselineIsMadeWhereNoMoveCanRefuseAnExistingName) {
    if (::geteuid() != 0) GTEST_SKIP() << "mounts need root";
    test::TemporaryFolder folder;
    test::TestMounts mounts;
    fs::create_directories(folder.path() / "E");
    ASSERT_TRUE(mounts.exfat(folder.path() / "exfat.img", folder.path() / "E"));
    const fs::path file = folder.path() / "E/state/JOB.sqlite";
    {
        BaselineStore store(file, false);
        store.save(Baseline{{"a", {EntryKind::file, 1, 2}}}, "X", std::nullopt, SideCounts{1, 0});
    }
    BaselineStore again(file, false);
    EXPECT_TRUE(again.isRecordedFor("X", std::nullopt));
    EXPECT_EQ(std::distance(fs::directory_iterator(file.parent_path()), fs::directory_iterator()), 1);
}
