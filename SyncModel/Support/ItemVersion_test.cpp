#include "SyncModel/Support/ItemVersion.h"

#include <gtest/gtest.h>

using namespace kelto;

namespace {

struct stat fileOf(std::int64_t size, std::int64_t seconds, long nanoseconds, dev_t device, ino_t number) {
    struct stat item {};
    item.st_mode = S_IFREG | 0644;
    item.st_size = size;
    item.st_mtim = {seconds, nanoseconds};
    item.st_dev = device;
    item.st_ino = number;
    return item;
}

}  // namespace

// A version is its kind, size and time to the fraction of a second; on the
// file system it was seen on, also its file number (a file saved anew by a
// rename). A copy across file systems keeps only the time.
TEST(ItemVersion, MatchesOnlyTheItemItWasSeenAs) {
    const ItemVersion seen = ItemVersion::of(fileOf(5, 100, 7, 1, 42), true);
    EXPECT_TRUE(seen.same(ItemVersion::of(fileOf(5, 100, 7, 1, 42), true), ItemVersion::Strictness::seen));
    EXPECT_FALSE(seen.same(ItemVersion::of(fileOf(6, 100, 7, 1, 42), true), ItemVersion::Strictness::seen));
    EXPECT_FALSE(seen.same(ItemVersion::of(fileOf(5, 101, 7, 1, 42), true), ItemVersion::Strictness::seen));
    EXPECT_FALSE(seen.same(ItemVersion::of(fileOf(5, 100, 7, 1, 43), true), ItemVersion::Strictness::seen));
    EXPECT_FALSE(seen.same(ItemVersion::of(fileOf(5, 100, 8, 1, 42), true), ItemVersion::Strictness::seen));
    EXPECT_TRUE(seen.same(ItemVersion::of(fileOf(5, 100, 7, 2, 99), true), ItemVersion::Strictness::seen));  // held across file systems
    EXPECT_FALSE(seen.same(ItemVersion::of(fileOf(5, 100, 8, 2, 99), true), ItemVersion::Strictness::seen));  // saved anew there within the second
    EXPECT_FALSE(seen.same(ItemVersion::of(fileOf(5, 100, 0, 2, 99), true), ItemVersion::Strictness::seen));  // a copy whose time lost its fraction

    struct stat link = fileOf(5, 100, 7, 1, 42);
    link.st_mode = S_IFLNK | 0777;
    EXPECT_FALSE(seen.same(ItemVersion::of(link, true), ItemVersion::Strictness::seen));

    // Where numbers are handed out afresh, a new number is no new version.
    EXPECT_TRUE(ItemVersion::of(fileOf(5, 100, 7, 1, 42), false).same(ItemVersion::of(fileOf(5, 100, 7, 1, 43), false), ItemVersion::Strictness::seen));
    EXPECT_TRUE(ItemVersion::keepsFileNumbers(0xEF53));        // ext4
    EXPECT_FALSE(ItemVersion::keepsFileNumbers(0x65735546));   // FUSE
    EXPECT_FALSE(ItemVersion::keepsFileNumbers(0x4D44));       // FAT
    EXPECT_FALSE(ItemVersion::keepsFileNumbers(std::nullopt));
}
