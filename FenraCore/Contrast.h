#pragma once

#include "FenraCore/RGB.h"

namespace kelto {

// WCAG relative luminance and contrast ratio.
struct Contrast {
    // A gamma-encoded component on the linear scale (sRGB's 0.04045 threshold, inclusive).
    static double linear(double component);
    static double luminance(const RGB& color);
    // Between 1 and 21; the order of the arguments does not matter.
    static double ratio(const RGB& first, const RGB& second);
};

}  // namespace kelto
