#include "SyncEngine/ArchiveMover.h"

#include "SyncEngine/ArchiveDirectories.h"
#include "tests/support/TemporaryFolder.h"
#include "tests/support/TestVolumes.h"
#include <date/tz.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace kelto;
namespace fs = std::filesystem;
// Each path not archived or removed, with the error number of its reason.
using Failures = std::vector<std::pair<std::string, int>>;

namespace {

const Uuid job = *Uuid::parse("0A1B2C3D-0000-4000-8000-00000000ABCD");
const std::string runID = "2025-03-07_141503-0a1b2c3d";
const ::date::time_zone* utc() { return ::date::locate_zone("UTC"); }

Failures summary(const std::vector<ArchiveMover::Failure>& failures) {
    Failures out;
    for (const ArchiveMover::Failure& failure : failures) out.emplace_back(failure.path, failure.reason.errorNumber());
    return out;
}

class ArchiveMoverTest : public ::testing::Test {
protected:
    test::TemporaryFolder folder;
    test::TemporaryFolder elsewhere;
    fs::path archived(const std::string& path) const {
        return folder / (ArchiveDirectories::runFolderRelativePath(job, runID) + "/" + path);
    }
    Failures archive(const std::vector<std::string>& paths, bool enabled = true, const std::string& id = runID) {
        return summary(ArchiveMover::archive(paths, folder.path(), job, id, enabled, std::stop_token{}, utc()));
    }
};

// Root may still not remove from a folder marked immutable.
bool setImmutable(const fs::path& path, bool on) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int flags = 0;
    bool ok = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    ok = ok && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    if (fd >= 0) ::close(fd);
    return ok;
}

}  // namespace

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
    ASSERT_FALSE(refused.empty());
    EXPECT_EQ(refused[0].reason.operation(), "Could not rename");
    EXPECT_EQ(refused[0].reason.path(), folder / "docs/a.txt");
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

TEST_F(ArchiveMoverTest, UnsafePathsAndBadRunIdentifiersAreReturnedUntouched) {
    elsewhere.write("inside.txt");
    fs::create_directory_symlink(elsewhere.path(), folder / "linked");
    folder.write(".KeltoSync/x");
    folder.write("b.txt");
    EXPECT_EQ(archive({".KeltoSync/x", "a/../b.txt", "linked/inside.txt"}, false),
              (Failures{{".KeltoSync/x", EINVAL}, {"a/../b.txt", EINVAL}, {"linked/inside.txt", EINVAL}}));
    EXPECT_EQ(archive({"b.txt"}, true, "2025-03-07_141503"), (Failures{{"b.txt", EINVAL}}));
    EXPECT_TRUE(fs::exists(elsewhere / "inside.txt"));
    EXPECT_TRUE(fs::exists(folder / ".KeltoSync/x"));
    EXPECT_TRUE(fs::exists(folder / "b.txt"));
}

TEST_F(ArchiveMoverTest, AReservedFolderThatIsALinkIsNotWrittenThrough) {
    fs::create_directory_symlink(elsewhere.path(), folder / ".KeltoSync");
    folder.write("a.txt");
    EXPECT_EQ(archive({"a.txt"}), (Failures{{"a.txt", ENOTDIR}}));
    EXPECT_TRUE(fs::exists(folder / "a.txt"));
    EXPECT_TRUE(fs::is_empty(elsewhere.path()));
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

TEST_F(ArchiveMoverTest, EmptyFoldersGoDeepestFirstOthersStayAndFailuresOtherThanNotEmptyOrGoneAreReported) {
    fs::create_directories(folder / "a/b/c");
    folder.write("full/item");
    fs::create_directory_symlink(elsewhere.path(), folder / "link");
    EXPECT_TRUE(
        ArchiveMover::removeEmptyDirectories({"a", "a/b", "full", "a/b/c", "link", "missing/x"}, folder.path()).empty());
    EXPECT_FALSE(fs::exists(folder / "a"));
    EXPECT_TRUE(fs::exists(folder / "full/item"));
    EXPECT_TRUE(fs::is_symlink(folder / "link"));
    folder.write("locked/file");
    fs::create_directory(folder / "locked/empty");
    if (!setImmutable(folder / "locked", true))
        GTEST_SKIP() << "cannot set the immutable attribute on this file system, so no removal can be made to fail";
    const std::vector<FileError> failures = ArchiveMover::removeEmptyDirectories({"locked/empty"}, folder.path());
    const Failures notMoved = archive({"locked/file"});
    setImmutable(folder / "locked", false);
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].errorNumber(), EPERM);
    EXPECT_EQ(failures[0].path(), folder / "locked/empty");
    EXPECT_EQ(notMoved, (Failures{{"locked/file", EPERM}}));
    EXPECT_TRUE(fs::exists(folder / "locked/file"));
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
