#pragma once

#include <QColor>

#include <cstddef>
#include <functional>

namespace kelto {

// A gamma-encoded sRGB triple, nominally 0 to 1; nothing clamps it.
struct RGB {
    double red = 0;
    double green = 0;
    double blue = 0;

    static const RGB white;
    static const RGB black;

    // Components on the 0 to 255 scale, each divided by 255 (no rounding, no clamping).
    static constexpr RGB from255(double red, double green, double blue) {
        return RGB{red / 255.0, green / 255.0, blue / 255.0};
    }

    // The same colour in every appearance, opaque.
    QColor color() const;

    // A shade derived in CIELAB: lightness offset in L units, chroma factor,
    // hue rotation in radians. Out-of-gamut results are clipped per channel.
    RGB shifted(double lightness, double chroma, double hue) const;

    friend bool operator==(const RGB&, const RGB&) = default;
};

inline constexpr RGB RGB::white{1, 1, 1};
inline constexpr RGB RGB::black{0, 0, 0};

}  // namespace kelto

template <>
struct std::hash<kelto::RGB> {
    std::size_t operator()(const kelto::RGB& value) const noexcept {
        std::size_t seed = 0;
        for (double component : {value.red, value.green, value.blue}) {
            seed ^= std::hash<double>{}(component) + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
        }
        return seed;
    }
};
