// Whether an item is still as a plan saw it: unchanged entries, equal
// contents, and sources that moved while rsync copied them.

#include "SyncEngine/UnchangedCheck.h"
#include "SyncEngine/internal/ContentCheck.h"
#include "SyncEngine/internal/CopySourceCheck.h"

#include "tests/support/TemporaryFolder.h"
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

using namespace kelto;
namespace fs = std::filesystem;

namespace {

constexpr std::int64_t t0 = 1'600'000'000;

void setTime(const fs::path& file, std::int64_t seconds, long nanoseconds = 0) {
    const timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << file;
}

struct stat statOf(const fs::path& file) {
    struct stat info {};
    EXPECT_EQ(::lstat(file.c_str(), &info), 0) << file;
    return info;
}

// A change of the change time alone; repeated until a coarse clock has moved.
void touchChangeTimeOnly(const fs::path& file) {
    const struct stat before = statOf(file);
    struct stat now {};
    do {
        ASSERT_EQ(::chmod(file.c_str(), before.st_mode & 07777), 0);
        now = statOf(file);
    } while (now.st_ctim.tv_sec == before.st_ctim.tv_sec && now.st_ctim.tv_nsec == before.st_ctim.tv_nsec);
}

TEST(UnchangedCheck, ComparesKindTimeAndSizeWithoutFollowingLinks) {
    test::TemporaryFolder tmp;
    const fs::path& root = tmp.path();
    tmp.write("f", "12345");
    setTime(root / "f", 1000);
    fs::create_directories(root / "d");
    setTime(root / "d", 2000);
    fs::create_symlink("f", root / "l");
    setTime(root / "l", 3000);
    const SideEntry file{"f", EntryKind::file, 5, 1000};
    EXPECT_TRUE(UnchangedCheck::isUnchanged(file, root));
    EXPECT_TRUE(UnchangedCheck::isUnchanged(SideEntry{"d", EntryKind::directory, 1, 2000}, root));  // size ignored
    EXPECT_TRUE(UnchangedCheck::isUnchanged(SideEntry{"l", EntryKind::symlink, 1, 3000}, root));
    EXPECT_FALSE(UnchangedCheck::isUnchanged(SideEntry{"f", EntryKind::file, 5, 1001}, root));
    EXPECT_FALSE(UnchangedCheck::isUnchanged(SideEntry{"f", EntryKind::file, 6, 1000}, root));
    EXPECT_FALSE(UnchangedCheck::isUnchanged(SideEntry{"l", EntryKind::file, 5, 1000}, root));  // the link, not its target
    EXPECT_FALSE(UnchangedCheck::isUnchanged(SideEntry{"missing", EntryKind::file, 5, 1000}, root));
    EXPECT_FALSE(UnchangedCheck::isUnchanged(SideEntry{"../f", EntryKind::file, 5, 1000}, root));
    // The same entry seen through a symbolic-link folder is refused.
    fs::create_directory_symlink(root / "d", root / "dl");
    tmp.write("d/g", "1");
    setTime(root / "d" / "g", 5);
    EXPECT_TRUE(UnchangedCheck::isUnchanged(SideEntry{"d/g", EntryKind::file, 1, 5}, root));
    EXPECT_FALSE(UnchangedCheck::isUnchanged(SideEntry{"dl/g", EntryKind::file, 1, 5}, root));
    // A file that became a folder.
    fs::remove(root / "f");
    fs::create_directories(root / "f");
    setTime(root / "f", 1000);
    EXPECT_FALSE(UnchangedCheck::isUnchanged(file, root));
}

// Read below each root, following no link; what cannot be read is different.
TEST(ContentCheck, OneTimeToTheNanosecondTellsNothingOnlyBytesAndLinkTargetsDo) {
    test::TemporaryFolder tmp;
    for (const char* path : {"a/d/f", "b/d/f", "b/real/f", "a/same", "b/same"}) tmp.write(path, "same bytes");
    tmp.write("a/g", "A's bytes");
    tmp.write("b/g", "B's bytes");
    for (const char* file : {"a/g", "b/g", "a/same"}) setTime(tmp / file, t0, 123'456'789);
    setTime(tmp / "b/same", t0);
    for (const char* link : {"a/l", "a/m", "b/m"}) fs::create_symlink("target-1", tmp / link);
    fs::create_symlink("target-2", tmp / "b/l");
    fs::create_directory_symlink(tmp / "b/real", tmp / "b/linked");
    ASSERT_EQ(::mkfifo((tmp / "b/p").c_str(), 0600), 0);
    ContentCheck check(tmp / "a", tmp / "b");
    EXPECT_TRUE(check.same("d/f", "d/f"));
    EXPECT_TRUE(check.same("same", "same"));
    EXPECT_TRUE(check.same("m", "m"));
    EXPECT_FALSE(check.same("g", "g"));
    EXPECT_FALSE(check.same("l", "l"));
    EXPECT_FALSE(check.same("m", "same"));
    EXPECT_FALSE(check.same("d/f", "linked/f"));
    EXPECT_FALSE(check.same("d/f", "l"));
    EXPECT_FALSE(check.same("d/f", "p"));
    EXPECT_FALSE(check.same("d/f", "missing"));
    EXPECT_FALSE(ContentCheck(tmp / "gone", tmp / "b").same("d/f", "d/f"));
}

class CopySourceCheckTest : public ::testing::Test {
protected:
    test::TemporaryFolder source, destination;
    void put(const std::string& path, const std::string& content, std::int64_t mtime = t0) {
        source.write(path, content);
        setTime(source / path, mtime);
    }
};

TEST_F(CopySourceCheckTest, NamesTheCopiedSourcesWhoseSizeTimesOrChangeTimeMoved) {
    for (const char* name : {"same", "grown", "retimed", "touched", "gone", "dir/nested", "not copied"})
        put(name, "12345");
    fs::create_symlink("same", source / "link");
    CopySourceCheck check(source.path(), {"same", "grown", "retimed", "touched", "gone", "dir/nested", "link",
                                          "not copied", "late", "missing"});
    put("grown", "123456");
    setTime(source / "retimed", t0, 1);  // a nanosecond is enough
    touchChangeTimeOnly(source / "touched");
    fs::remove(source / "gone");
    put("dir/nested", "54321");  // same size, same time: the change time tells
    touchChangeTimeOnly(source / "dir/nested");
    fs::remove(source / "link");
    fs::create_symlink("grown", source / "link");  // links are not watched
    put("not copied", "changed");
    put("late", "made after the first look");
    EXPECT_EQ(check.changed({"dir/nested", "same", "late", "link", "touched", "gone", "retimed", "grown", "grown",
                             "missing"}),
              (std::vector<std::string>{"dir/nested", "touched", "gone", "retimed", "grown"}));
    EXPECT_TRUE(CopySourceCheck(source.path(), {"same"}).changed({"same"}).empty());
}

TEST_F(CopySourceCheckTest, AStaleMarkPutsTheCopyBeyondTheWindowBeforeBothLooksAndTouchesNothingElse) {
    for (const char* name : {"older", "newer", "replaced", "calm"}) put(name, "12345", t0 + 100);
    for (const char* name : {"older", "newer", "calm"}) {
        destination.write(name, "copy");
        setTime(destination / name, t0 + 100);
    }
    fs::create_symlink("elsewhere", destination / "replaced");  // not the copy rsync made
    const timespec linkTime = statOf(destination / "replaced").st_mtim;
    CopySourceCheck check(source.path(), {"older", "newer", "replaced", "calm"});
    setTime(source / "older", t0 + 50);
    setTime(source / "newer", t0 + 200);
    setTime(source / "replaced", t0 + 200);
    ASSERT_EQ(check.changed({"older", "newer", "replaced", "calm"}),
              (std::vector<std::string>{"older", "newer", "replaced"}));
    for (const char* name : {"older", "newer", "replaced", "calm", "never there"})
        check.markStale(destination.path(), name, 1);
    EXPECT_EQ(statOf(destination / "older").st_mtim.tv_sec, t0 + 50 - 3);
    EXPECT_EQ(statOf(destination / "newer").st_mtim.tv_sec, t0 + 100 - 3);
    EXPECT_EQ(statOf(destination / "newer").st_mtim.tv_nsec, 0);
    EXPECT_EQ(test::readFile(destination / "newer"), "copy");  // the bytes stay
    const timespec replaced = statOf(destination / "replaced").st_mtim;
    EXPECT_EQ(std::pair(replaced.tv_sec, replaced.tv_nsec), std::pair(linkTime.tv_sec, linkTime.tv_nsec));
    EXPECT_EQ(statOf(destination / "calm").st_mtim.tv_sec, t0 + 100);
    // Never through a link on the way.
    put("dir/f", "12345");
    fs::create_directory(destination / "real");
    destination.write("real/f", "copy");
    setTime(destination / "real/f", t0);
    fs::create_directory_symlink(destination / "real", destination / "dir");
    CopySourceCheck below(source.path(), {"dir/f"});
    put("dir/f", "changed");
    ASSERT_EQ(below.changed({"dir/f"}), std::vector<std::string>{"dir/f"});
    EXPECT_NO_THROW(below.markStale(destination.path(), "dir/f", 0));
    EXPECT_EQ(statOf(destination / "real/f").st_mtim.tv_sec, t0);
}

}  // namespace
