#include "SyncEngine/internal/ContentCheck.h"
#include "SyncModel/Support/FileSystemCapabilities.h"
#include "SyncModel/Support/SafeFileSystem.h"

#include "tests/support/TemporaryFolder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

using namespace kelto;
namespace fs = std::filesystem;

namespace {

void stampAt(const fs::path& file, long nanoseconds) {
    const timespec times[2] = {{1'600'000'000, nanoseconds}, {1'600'000'000, nanoseconds}};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
}

TEST(ContentCheck, ReadsBelowEachRootWithoutFollowingALinkAndTakesWhatItCannotReadForDifferent) {
    test::TemporaryFolder tmp;
    tmp.write("a/d/f", "same bytes");
    tmp.write("b/d/f", "same bytes");
    tmp.write("a/g", "A's bytes");
    tmp.write("b/g", "B's bytes");
    tmp.write("b/real/f", "same bytes");
    fs::create_directory_symlink(tmp / "b/real", tmp / "b/linked");
    fs::create_symlink("d/f", tmp / "b/l");
    ASSERT_EQ(::mkfifo((tmp / "b/p").c_str(), 0600), 0);

    ContentCheck check(tmp / "a", tmp / "b");
    EXPECT_TRUE(check.same("d/f", "d/f"));
    EXPECT_FALSE(check.same("g", "g"));
    EXPECT_FALSE(check.same("d/f", "linked/f"));
    EXPECT_FALSE(check.same("d/f", "l"));
    EXPECT_FALSE(check.same("d/f", "p"));
    EXPECT_FALSE(check.same("d/f", "missing"));
    EXPECT_FALSE(ContentCheck(tmp / "gone", tmp / "b").same("d/f", "d/f"));
}

// Where both file systems stamp in nanoseconds, one time to the nanosecond
// stands for one content; a fraction of zero, set from whole seconds, does not.
TEST(ContentCheck, OneTimeToTheNanosecondIsTheSameUnreadButAWholeSecondIsNot) {
    test::TemporaryFolder tmp;
    if (FileSystemCapabilities::forMagic(SafeFileSystem::fileSystemType(tmp.path())).timeResolution > 1)
        GTEST_SKIP() << "the temporary folder's file system stamps coarsely";
    tmp.write("a/g", "A's bytes");
    tmp.write("b/g", "B's bytes");
    ContentCheck check(tmp / "a", tmp / "b");
    stampAt(tmp / "a/g", 123'456'789);
    stampAt(tmp / "b/g", 123'456'789);
    EXPECT_TRUE(check.same("g", "g"));
    stampAt(tmp / "a/g", 0);
    stampAt(tmp / "b/g", 0);
    EXPECT_FALSE(check.same("g", "g"));
}

}  // namespace
