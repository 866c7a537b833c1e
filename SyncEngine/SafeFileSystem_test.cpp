#include "SyncEngine/SafeFileSystem.h"

#include "tests/support/TemporaryFolder.h"

#include <gtest/gtest.h>

using namespace kelto;
namespace fs = std::filesystem;

// The way taken where RENAME_NOREPLACE is refused must keep its promise too.
TEST(SafeFileSystem, ClaimingTheDestinationMovesButNeverReplaces) {
    test::TemporaryFolder folder;
    SafeFileSystem::Descriptor root;
    ASSERT_EQ(SafeFileSystem::openRoot(folder.path(), root), 0);
    const auto move = [&](const char* from, const char* to) {
        return SafeFileSystem::moveByClaimingDestination(root.get(), from, root.get(), to);
    };
    folder.write("file", "new");
    folder.write("taken", "old");
    folder.write("dir/inner", "in");
    fs::create_directory(folder / "emptyTaken");
    fs::create_symlink("nowhere", folder / "link");

    EXPECT_EQ(move("file", "taken"), EEXIST);
    EXPECT_EQ(move("dir", "emptyTaken"), EEXIST);
    EXPECT_EQ(move("dir", "taken"), EEXIST);
    EXPECT_EQ(test::readFile(folder / "taken"), "old");

    EXPECT_EQ(move("file", "file2"), 0);
    EXPECT_EQ(move("dir", "dir2"), 0);
    EXPECT_EQ(move("link", "link2"), 0);
    EXPECT_EQ(test::readFile(folder / "file2"), "new");
    EXPECT_EQ(test::readFile(folder / "dir2/inner"), "in");
    EXPECT_EQ(fs::read_symlink(folder / "link2"), "nowhere");
    for (const char* gone : {"file", "dir", "link"}) EXPECT_FALSE(fs::exists(fs::symlink_status(folder / gone)));
}
