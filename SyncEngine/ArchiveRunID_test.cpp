#include "SyncEngine/ArchiveRunID.h"

#include <date/tz.h>
#include <gtest/gtest.h>

using namespace kelto;

namespace {
const ::date::time_zone& berlin() { return *::date::locate_zone("Europe/Berlin"); }
const ::date::time_zone& utc() { return *::date::locate_zone("UTC"); }
}  // namespace

TEST(ArchiveRunID, ReadsLocalTimeAndRefusesAnyOtherFormOrATimeSkippedByDaylightSaving) {
    EXPECT_EQ(ArchiveRunID::date("2025-03-07_141503-0a1b2c3d", berlin()), Date::fromUnix(1741353303));
    EXPECT_EQ(ArchiveRunID::date("2025-03-07_141503-0a1b2c3d", utc()), Date::fromUnix(1741356903));
    for (const char* text : {"2025-03-07_141503-0A1B2C3D", "2025-03-07_141503_0a1b2c3d", "2025-03-07_141503-0a1b2c3",
                             "2025-03-07_141503-0a1b2c3d0", "2025-02-30_120000-0a1b2c3d", "2025-03-07_241503-0a1b2c3d",
                             "+025-03-07_141503-0a1b2c3d"})
        EXPECT_FALSE(ArchiveRunID::date(text, utc())) << text;
    // Berlin's clocks went from 02:00 to 03:00 on 30 March 2025.
    EXPECT_FALSE(ArchiveRunID::date("2025-03-30_023000-0a1b2c3d", berlin()));
    EXPECT_TRUE(ArchiveRunID::date("2025-03-30_023000-0a1b2c3d", utc()));
    // 02:30 happened twice on 26 October; it reads as the first time.
    EXPECT_EQ(ArchiveRunID::date("2025-10-26_023000-0a1b2c3d", berlin()), Date::fromUnix(1761438600));
}

TEST(ArchiveRunID, MadeIdentifiersAre26BytesAndReadBackToTheWholeSecond) {
    const std::string id = ArchiveRunID::make(Date::fromUnix(1741353303.75), berlin());
    ASSERT_EQ(id.size(), 26u);
    EXPECT_EQ(id.substr(0, 18), "2025-03-07_141503-");
    EXPECT_EQ(id.find_first_not_of("0123456789abcdef", 18), std::string::npos);
    EXPECT_EQ(ArchiveRunID::date(id, berlin()), Date::fromUnix(1741353303));
    EXPECT_NE(ArchiveRunID::make(Date::fromUnix(1741353303), berlin()), id);
}

TEST(ArchiveRunID, TheCurrentZoneFollowsTZ) {
    const char* saved = std::getenv("TZ");
    const std::string previous = saved ? saved : "";
    ::setenv("TZ", ":Europe/Berlin", 1);
    EXPECT_EQ(ArchiveRunID::currentZone().name(), "Europe/Berlin");
    saved ? ::setenv("TZ", previous.c_str(), 1) : ::unsetenv("TZ");
}
