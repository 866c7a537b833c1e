#include "SyncModel/Support/Uuid.h"

#include <gtest/gtest.h>

using namespace kelto;

namespace {

TEST(Uuid, ParsesEitherCaseAndWritesUpperCase) {
    const auto lower = Uuid::parse("c56a4180-65aa-42ec-a945-5fd21dec0538");
    const auto upper = Uuid::parse("C56A4180-65AA-42EC-A945-5FD21DEC0538");
    ASSERT_TRUE(lower && upper);
    EXPECT_EQ(*lower, *upper);
    EXPECT_EQ(lower->string(), "C56A4180-65AA-42EC-A945-5FD21DEC0538");
    EXPECT_EQ(upper->lowerString(), "c56a4180-65aa-42ec-a945-5fd21dec0538");
    EXPECT_EQ(lower->bytes()[0], 0xC5);
    EXPECT_EQ(Uuid::parse(Uuid::random().string())->string().size(), 36u);
    for (const char* bad : {"", "C56A4180-65AA-42EC-A945-5FD21DEC053", "C56A4180-65AA-42EC-A945-5FD21DEC05388",
                            "C56A418065AA42ECA9455FD21DEC0538", "C56A4180_65AA_42EC_A945_5FD21DEC0538",
                            "G56A4180-65AA-42EC-A945-5FD21DEC0538", "{56A4180-65AA-42EC-A945-5FD21DEC053}"})
        EXPECT_EQ(Uuid::parse(bad), std::nullopt) << bad;
}

}  // namespace
