#include "SyncEngine/internal/SeenOnDisk.h"

#include "tests/support/TemporaryFolder.h"

#include <gtest/gtest.h>

using namespace kelto;

namespace {

// The wall clock stood an hour later when the look began and has been set
// back since: a save made after the look began stamps before its start, yet
// is no version the look compared. What stood before the look still counts.
TEST(SeenOnDisk, ASaveAfterTheLookBeganIsNoVersionItSawThoughTheClockWasSetBackSince) {
    test::TemporaryFolder tmp;
    tmp.write("before", "old");
    SeenOnDisk::Start start = SeenOnDisk::Start::now();
    start.at.tv_sec += 3600;
    tmp.write("saved", "new");

    SeenOnDisk disk(tmp.path(), start);
    EXPECT_EQ(disk.now("saved"), std::nullopt);
    EXPECT_NE(disk.now("before"), std::nullopt);
}

}  // namespace
