#pragma once

namespace kelto {

// The package's two spacing steps, in points, for layouts around its
// controls (the controls themselves write their numbers directly).
struct KeltoMetrics {
    static constexpr double padding = 12;
    static constexpr double spacing = 6;
};

}  // namespace kelto
