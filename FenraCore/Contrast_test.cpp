#include "FenraCore/Contrast.h"

#include <gtest/gtest.h>

using namespace kelto;

namespace {

TEST(Contrast, RatioSpansOneToTwentyOneInEitherOrderAndTheThresholdIsOnTheLinearSide) {
    EXPECT_DOUBLE_EQ(Contrast::ratio(RGB::white, RGB::black), 21);
    EXPECT_DOUBLE_EQ(Contrast::ratio(RGB::black, RGB::white), 21);
    const RGB grey = RGB::from255(120, 130, 140), navy = RGB::from255(11, 20, 51);
    EXPECT_DOUBLE_EQ(Contrast::ratio(grey, grey), 1);
    EXPECT_DOUBLE_EQ(Contrast::ratio(grey, navy), Contrast::ratio(navy, grey));
    EXPECT_NEAR(Contrast::luminance(RGB{0, 1, 0}), 0.7152, 1e-12);
    EXPECT_DOUBLE_EQ(Contrast::linear(0.04045), 0.04045 / 12.92);
    EXPECT_GT(Contrast::linear(0.0405), 0.0405 / 12.92);
    EXPECT_DOUBLE_EQ(Contrast::luminance(RGB{0.04045, 0.04045, 0.04045}), 0.04045 / 12.92);
    // The byte scale is divided without clamping.
    const RGB value = RGB::from255(255, 0, 300);
    EXPECT_EQ(value.red, 1);
    EXPECT_DOUBLE_EQ(value.blue, 300.0 / 255.0);
}

}  // namespace
