#include "FenraCore/FenraTheme.h"

namespace kelto {

const FenraColor& FenraTheme::accent() {
    static const FenraColor value{RGB::from255(43, 75, 255), RGB::from255(141, 180, 255)};
    return value;
}

const FenraColor& FenraTheme::secondaryAccent() {
    static const FenraColor value{RGB::from255(43, 75, 255), RGB::from255(141, 180, 255)};
    return value;
}

const FenraColor& FenraTheme::onAccent() {
    static const FenraColor value{RGB::from255(255, 255, 255), RGB::from255(11, 20, 51)};
    return value;
}

const FenraColor& FenraTheme::tint() {
    static const FenraColor value{RGB::from255(43, 75, 255), RGB::from255(141, 180, 255)};
    return value;
}

const FenraColor& FenraTheme::kelto() {
    static const FenraColor value{RGB::from255(255, 201, 60), RGB::from255(255, 201, 60)};
    return value;
}

const FenraColor& FenraTheme::navy() {
    static const FenraColor value{RGB::from255(11, 20, 51), RGB::from255(11, 20, 51)};
    return value;
}

const FenraColor& FenraTheme::coral() {
    static const FenraColor value{RGB::from255(255, 90, 78), RGB::from255(255, 90, 78)};
    return value;
}

const FenraColor& FenraTheme::success() {
    static const FenraColor value{RGB::from255(23, 106, 69), RGB::from255(128, 219, 175)};
    return value;
}

const FenraColor& FenraTheme::warning() {
    static const FenraColor value{RGB::from255(168, 95, 0), RGB::from255(255, 201, 60)};
    return value;
}

const FenraColor& FenraTheme::error() {
    static const FenraColor value{RGB::from255(159, 48, 40), RGB::from255(255, 154, 142)};
    return value;
}

const FenraColor& FenraTheme::info() {
    static const FenraColor value{RGB::from255(60, 71, 97), RGB::from255(200, 208, 229)};
    return value;
}

const FenraColor& FenraTheme::destructive() {
    static const FenraColor value{RGB::from255(184, 59, 50), RGB::from255(255, 154, 142)};
    return value;
}

const FenraColor& FenraTheme::background() {
    static const FenraColor value{RGB::from255(244, 241, 234), RGB::from255(11, 20, 51)};
    return value;
}

const FenraColor& FenraTheme::surface() {
    static const FenraColor value{RGB::from255(255, 255, 255), RGB::from255(21, 33, 68)};
    return value;
}

const FenraColor& FenraTheme::stroke() {
    static const FenraColor value{RGB::from255(231, 233, 240), RGB::from255(34, 49, 84)};
    return value;
}

const FenraColor& FenraTheme::textPrimary() {
    static const FenraColor value{RGB::from255(11, 20, 51), RGB::from255(244, 241, 234)};
    return value;
}

const FenraColor& FenraTheme::textSecondary() {
    static const FenraColor value{RGB::from255(65, 76, 101), RGB::from255(181, 193, 220)};
    return value;
}

const FenraColor& FenraTheme::textTertiary() {
    static const FenraColor value{RGB::from255(135, 147, 172), RGB::from255(117, 134, 171)};
    return value;
}

}  // namespace kelto
