#include "FenraCore/Contrast.h"

#include <algorithm>
#include <cmath>

namespace kelto {

double Contrast::linear(double component) {
    if (component <= 0.04045) {
        return component / 12.92;
    }
    return std::pow((component + 0.055) / 1.055, 2.4);
}

double Contrast::luminance(const RGB& color) {
    return 0.2126 * linear(color.red) + 0.7152 * linear(color.green) + 0.0722 * linear(color.blue);
}

double Contrast::ratio(const RGB& first, const RGB& second) {
    const double a = luminance(first);
    const double b = luminance(second);
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

}  // namespace kelto
