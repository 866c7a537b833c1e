#include "SyncEngine/internal/ContentCheck.h"

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
    for (const char* path : {"a/d/f", "b/d/f", "b/real/f"}) tmp.write(path, "same bytes");
    tmp.write("a/g", "A's bytes");
    tmp.write("b/g", "B's bytes");
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

TEST(ContentCheck, OneTimeToTheNanosecondTellsNothingOnlyBytesAndLinkTargetsDo) {
    test::TemporaryFolder tmp;
    tmp.write("a/g", "A's bytes");
    tmp.write("b/g", "B's bytes");
    for (const char* path : {"a/same", "b/same"}) tmp.write(path, "one edit");
    for (const char* file : {"a/g", "b/g", "a/same"}) stampAt(tmp / file, 123'456'789);
    stampAt(tmp / "b/same", 0);
    for (const char* link : {"a/l", "a/m", "b/m"}) fs::create_symlink("target-1", tmp / link);
    fs::create_symlink("target-2", tmp / "b/l");
    ContentCheck check(tmp / "a", tmp / "b");
    EXPECT_FALSE(check.same("g", "g"));
    EXPECT_TRUE(check.same("same", "same"));
    EXPECT_FALSE(check.same("l", "l"));
    EXPECT_TRUE(check.same("m", "m"));
    EXPECT_FALSE(check.same("m", "same"));
}

}  // namespace
