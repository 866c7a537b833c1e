#pragma once

namespace kelto {

// The values a slider may write: a closed range and the grid, `step` apart
// from its lower bound, that every written value lies on.
class KeltoSliderScale {
public:
    struct Range {
        double lower = 0;
        double upper = 1;
        friend bool operator==(const Range&, const Range&) = default;
    };

    // Throws std::invalid_argument for a step that is not positive and
    // finite, and for a range whose bounds are not finite or whose lower
    // bound lies above its upper one (clamping to it would be undefined).
    KeltoSliderScale(Range range, double step);
    // With the step a slider takes when none is given: 0.01 for a range
    // within 0 to 1, else 1.
    explicit KeltoSliderScale(Range range);

    static double defaultStep(Range range);

    Range range() const { return range_; }
    double step() const { return step_; }

    // Where the value lies from lower (0) to upper (1), clamped; 0 for NaN
    // and for a range of one value.
    double fraction(double value) const;
    // The value at a fraction clamped to 0 to 1 (NaN counts as 0).
    double value(double fraction) const;
    // The value clamped to the range, moved to the nearest grid value
    // (halves away from zero), clamped again; NaN counts as the lower bound.
    double snapped(double value) const;

private:
    Range range_;
    double step_;
};

}  // namespace kelto
