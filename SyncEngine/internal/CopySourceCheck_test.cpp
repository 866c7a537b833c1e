#include "SyncEngine/internal/CopySourceCheck.h"

#include "tests/support/TemporaryFolder.h"
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

using namespace kelto;
namespace fs = std::filesystem;

namespace {

constexpr std::int64_t t0 = 1'600'000'000;

struct stat statOf(const fs::path& file) {
    struct stat info {};
    EXPECT_EQ(::lstat(file.c_str(), &info), 0) << file;
    return info;
}

void setTime(const fs::path& file, std::int64_t seconds, long nanoseconds = 0) {
    const timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << file;
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
