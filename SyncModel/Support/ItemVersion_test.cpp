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

TEST(ItemVersion, MatchesOnlyTheItemItWasSeenAsAndEachStrictnessAsksWhatItsUseNeeds) {
    const ItemVersion seen = ItemVersion::of(fileOf(5, 100, 7, 1, 42), true);
    const auto isSeen = [&](const struct stat& item, bool keepsNumbers = true) {
        return seen.same(ItemVersion::of(item, keepsNumbers), ItemVersion::Strictness::seen);
    };
    EXPECT_TRUE(isSeen(fileOf(5, 100, 7, 1, 42)));
    EXPECT_FALSE(isSeen(fileOf(6, 100, 7, 1, 42)));
    EXPECT_FALSE(isSeen(fileOf(5, 101, 7, 1, 42)));
    EXPECT_FALSE(isSeen(fileOf(5, 100, 7, 1, 43)));
    EXPECT_FALSE(isSeen(fileOf(5, 100, 8, 1, 42)));
    EXPECT_TRUE(isSeen(fileOf(5, 100, 7, 2, 99)));  // held across file systems
    EXPECT_FALSE(isSeen(fileOf(5, 100, 8, 2, 99)));  // saved anew there within the second
    EXPECT_FALSE(isSeen(fileOf(5, 100, 0, 2, 99)));  // a copy whose time lost its fraction
    struct stat link = fileOf(5, 100, 7, 1, 42);
    link.st_mode = S_IFLNK | 0777;
    EXPECT_FALSE(isSeen(link));
    // Where numbers are handed out afresh, a new number is no new version.
    EXPECT_TRUE(ItemVersion::of(fileOf(5, 100, 7, 1, 42), false)
                    .same(ItemVersion::of(fileOf(5, 100, 7, 1, 43), false), ItemVersion::Strictness::seen));
    using S = ItemVersion::Strictness;
    struct stat item = fileOf(5, 100, 7, 1, 42);
    item.st_ctim = {200, 3};
    const ItemVersion v = ItemVersion::of(item, true);
    struct stat touched = item;
    touched.st_ctim = {201, 0};  // a chmod, a rename
    EXPECT_TRUE(v.same(ItemVersion::of(touched, true), S::untouched));
    EXPECT_FALSE(v.same(ItemVersion::of(touched, true), S::unchanged));
    EXPECT_FALSE(v.same(ItemVersion::of(touched, true), S::alike));
    EXPECT_TRUE(v.same(ItemVersion::of(fileOf(5, 100, 7, 1, 43), true), S::listed));
    EXPECT_FALSE(v.same(ItemVersion::of(fileOf(5, 100, 7, 1, 43), true), S::untouched));
    struct stat renumbered = item;
    renumbered.st_ino = 43;
    EXPECT_TRUE(v.same(ItemVersion::of(renumbered, false), S::alike));
    EXPECT_TRUE(v.same(ItemVersion::of(fileOf(5, 102, 0, 2, 9), true), S::copy, 2));
    EXPECT_FALSE(v.same(ItemVersion::of(fileOf(5, 103, 0, 2, 9), true), S::copy, 2));
    struct stat folder = item;
    folder.st_mode = S_IFDIR | 0755;
    struct stat emptied = folder;
    emptied.st_size = 0;
    emptied.st_mtim = {300, 0};
    EXPECT_TRUE(ItemVersion::of(folder, true).same(ItemVersion::of(emptied, true), S::unchanged));
    EXPECT_FALSE(ItemVersion::of(folder, true).same(ItemVersion::of(folder, true), S::copy));
}
