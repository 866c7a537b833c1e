#include "FenraCore/TileTint.h"
#include <gtest/gtest.h>

using namespace kelto;

namespace {

void expectBytes(const RGB& value, double red, double green, double blue, double tolerance) {
    EXPECT_NEAR(value.red * 255, red, tolerance);
    EXPECT_NEAR(value.green * 255, green, tolerance);
    EXPECT_NEAR(value.blue * 255, blue, tolerance);
}

TEST(RGBShifted, NoShiftGivesAnInGamutColourBackAndLightnessIsClampedToTheLabRange) {
    // The two matrices are rounded inverses: not exact, but within a thousandth.
    expectBytes(RGB::from255(43, 75, 255).shifted(0, 1, 0), 43.00005, 74.99999, 255, 0.0001);
    for (TileTint tint : TileTints::allCases()) {
        const RGB base = TileTints::base(tint);
        expectBytes(base.shifted(0, 1, 0), base.red * 255, base.green * 255, base.blue * 255, 0.001);
    }
    const RGB grey = RGB::from255(128, 128, 128);
    expectBytes(grey.shifted(-200, 1, 0), 0, 0, 0, 0.01);
    expectBytes(grey.shifted(200, 1, 0), 255, 255, 255, 0.05);
    // A lightness that is not a number counts as below zero.
    expectBytes(grey.shifted(std::nan(""), 1, 0), 0, 0, 0, 0.01);
}

}  // namespace
