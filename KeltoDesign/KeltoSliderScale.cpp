#include "KeltoDesign/KeltoSliderScale.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace kelto {
namespace {

KeltoSliderScale::Range checked(KeltoSliderScale::Range range) {
    if (!std::isfinite(range.lower) || !std::isfinite(range.upper)) {
        throw std::invalid_argument("slider range bounds must be finite");
    }
    if (range.lower > range.upper) {
        throw std::invalid_argument("slider range lower bound lies above its upper bound");
    }
    return range;
}

}  // namespace

KeltoSliderScale::KeltoSliderScale(Range range, double step) : range_(checked(range)), step_(step) {
    if (!std::isfinite(step) || step <= 0) {
        throw std::invalid_argument("slider step must be positive and finite");
    }
}

KeltoSliderScale::KeltoSliderScale(Range range) : KeltoSliderScale(range, defaultStep(checked(range))) {}

double KeltoSliderScale::defaultStep(Range range) {
    return range.lower >= 0 && range.upper <= 1 ? 0.01 : 1.0;
}

double KeltoSliderScale::fraction(double value) const {
    if (!(range_.lower < range_.upper)) {
        return 0;
    }
    const double f = (value - range_.lower) / (range_.upper - range_.lower);
    return std::isnan(f) ? 0 : std::clamp(f, 0.0, 1.0);
}

double KeltoSliderScale::value(double fraction) const {
    const double f = std::isnan(fraction) ? 0 : std::clamp(fraction, 0.0, 1.0);
    // A span too wide for a double gives infinities; keep to the range.
    const double v = range_.lower + (range_.upper - range_.lower) * f;
    return std::isnan(v) ? range_.lower : std::clamp(v, range_.lower, range_.upper);
}

double KeltoSliderScale::snapped(double value) const {
    const double clamped = std::isnan(value) ? range_.lower : std::clamp(value, range_.lower, range_.upper);
    const double grid = range_.lower + step_ * std::round((clamped - range_.lower) / step_);
    return std::clamp(grid, range_.lower, range_.upper);
}

}  // namespace kelto
