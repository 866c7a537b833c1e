#include "SyncEngine/TwoWayListState.h"

#include <gtest/gtest.h>

using namespace kelto;

namespace {

TEST(TwoWayListState, KeysEntriesThrottlesReportsAndCountsFromTheOffset) {
    ManualClock clock;
    std::vector<SyncProgress> reports;
    TwoWayListState state(10, [&](const SyncProgress& p) { reports.push_back(p); }, clock);
    auto first = state.record({EntryKind::directory, 4096, 1, "Photos/"});
    ASSERT_TRUE(first);  // the first entry reports at once, without the folder's "/"
    EXPECT_EQ(*first, TwoWayListState::scanningReport("Photos", 11));
    EXPECT_FALSE(state.record({EntryKind::file, 1, 2, "Cafe\xCC\x81"}));
    clock.advance(0.1);
    EXPECT_EQ(state.record({EntryKind::file, 3, 4, "Caf\xC3\xA9"}), TwoWayListState::scanningReport("Caf\xC3\xA9", 13));

    const SideListing listing = state.finish();
    EXPECT_EQ(reports, std::vector<SyncProgress>{TwoWayListState::scanningReport(std::nullopt, 12)});
    ASSERT_EQ(listing.size(), 2u);  // one key for both spellings; the later entry wins
    EXPECT_EQ(listing.find("Caf\xC3\xA9")->entry(), (SideEntry{"Caf\xC3\xA9", EntryKind::file, 3, 4}));
    EXPECT_EQ(listing.find("Photos")->kind, EntryKind::directory);
}

TEST(TwoWayListState, OnlyALineShapedLikeAnEntryMakesTheListingUnusable) {
    ManualClock clock;
    TwoWayListState state(0, nullptr, clock);
    state.recordOtherLine("              0 100%    0.00kB/s    0:00:00 (xfr#0, to-chk=0/3)");
    state.recordOtherLine("rsync: [sender] readlink_stat(\"x\") failed");
    state.recordOtherLine("drwx");
    EXPECT_FALSE(state.unreadableLine);
    state.recordOtherLine("-rw-r--r--           0 11476/08/15 05:20:0 newfile");
    state.recordOtherLine("lrwxrwxrwx           1 2020/01/01 00:00:00 second");
    EXPECT_EQ(state.unreadableLine, "-rw-r--r--           0 11476/08/15 05:20:0 newfile");
}

}  // namespace
