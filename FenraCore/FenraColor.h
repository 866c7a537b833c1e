#pragma once

#include "FenraCore/ColorScheme.h"
#include "FenraCore/RGB.h"

#include <QColor>

#include <functional>

class QPalette;

namespace kelto {

// A colour with one sRGB value for light and one for dark appearance,
// resolved when it is drawn.
struct FenraColor {
    RGB light;
    RGB dark;

    FenraColor(const RGB& light, const RGB& dark) : light(light), dark(dark) {}
    explicit FenraColor(const RGB& both) : light(both), dark(both) {}

    RGB value(ColorScheme scheme) const { return scheme == ColorScheme::dark ? dark : light; }
    // Opaque, for the appearance the palette draws.
    QColor color(const QPalette& palette) const;
    QColor color(ColorScheme scheme) const { return value(scheme).color(); }

    friend bool operator==(const FenraColor&, const FenraColor&) = default;
};

}  // namespace kelto

template <>
struct std::hash<kelto::FenraColor> {
    std::size_t operator()(const kelto::FenraColor& value) const noexcept {
        const std::size_t light = std::hash<kelto::RGB>{}(value.light);
        return light ^ (std::hash<kelto::RGB>{}(value.dark) + 0x9e3779b97f4a7c15ULL + (light << 6) + (light >> 2));
    }
};
