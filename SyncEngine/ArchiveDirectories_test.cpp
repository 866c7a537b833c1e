#include "SyncEngine/ArchiveDirectories.h"

#include "SyncEngine/ArchiveDirectoriesError.h"
#include "SyncModel/Support/FileIO.h"
#include "tests/support/TemporaryFolder.h"
#include <date/tz.h>
#include <gtest/gtest.h>

using namespace kelto;
namespace fs = std::filesystem;

namespace {

const Uuid job = *Uuid::parse("0A1B2C3D-0000-4000-8000-00000000ABCD");
const std::string runID = "2025-03-07_141503-0a1b2c3d";

class ArchiveDirectoriesTest : public ::testing::Test {
protected:
    test::TemporaryFolder folder;
    fs::path root() const { return folder.path(); }
    void prepare(const std::string& id = runID) {
        ArchiveDirectories::prepareTree(root(), job, id, ::date::locate_zone("UTC"));
    }
    bool safe(std::string_view path, bool allowReserved = false) {
        return ArchiveDirectories::isSafeRelativePath(path, root(), allowReserved);
    }
};

}  // namespace

TEST_F(ArchiveDirectoriesTest, PrepareTreeMakesTheLayoutAndCanRunAgain) {
    prepare();
    EXPECT_TRUE(fs::is_directory(folder / ".KeltoSync/Partial"));
    EXPECT_TRUE(fs::is_directory(folder / ".KeltoSync/Holding"));
    EXPECT_TRUE(fs::is_directory(folder / (".KeltoSync/Archive/0A1B2C3D-0000-4000-8000-00000000ABCD/" + runID)));
    EXPECT_TRUE(ArchiveDirectories::treeExists(root(), job));
    folder.write(ArchiveDirectories::runFolderRelativePath(job, runID) + "/kept");
    prepare();
    EXPECT_TRUE(fs::exists(folder / (ArchiveDirectories::runFolderRelativePath(job, runID) + "/kept")));
}

TEST_F(ArchiveDirectoriesTest, PrepareTreeRefusesBadIdentifiersLinksAndFilesAndMakesNoParents) {
    EXPECT_THROW(prepare("2025-03-07_141503-0A1B2C3D"), ArchiveDirectoriesError);
    EXPECT_TRUE(fs::is_empty(root()));
    test::TemporaryFolder elsewhere;
    fs::create_directory_symlink(elsewhere.path(), folder / ".KeltoSync");
    EXPECT_THROW(prepare(), ArchiveDirectoriesError);
    EXPECT_TRUE(fs::is_empty(elsewhere.path()));
    EXPECT_FALSE(ArchiveDirectories::treeExists(root(), job));
    fs::remove(folder / ".KeltoSync");
    folder.write(".KeltoSync/Partial");
    EXPECT_THROW(prepare(), ArchiveDirectoriesError);
    EXPECT_FALSE(fs::exists(folder / (".KeltoSync/Archive/" + job.string())));
    try {
        ArchiveDirectories::prepareTree(folder / "missing", job, runID, ::date::locate_zone("UTC"));
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
    test::TemporaryFolder elsewhere;
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
