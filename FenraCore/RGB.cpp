#include "FenraCore/RGB.h"

#include "FenraCore/Contrast.h"

#include <algorithm>
#include <cmath>

namespace kelto {
namespace {

// D65 white point.
constexpr double whiteX = 0.95047;
constexpr double whiteZ = 1.08883;

double labF(double t) {
    if (t > 216.0 / 24389.0) {
        return std::cbrt(t);
    }
    return (24389.0 / 27.0 * t + 16.0) / 116.0;
}

double labFInverse(double u) {
    if (u > 6.0 / 29.0) {
        return u * u * u;
    }
    return (u - 16.0 / 116.0) * (108.0 / 841.0);
}

double encode(double linearValue) {
    const double v = std::clamp(linearValue, 0.0, 1.0);
    if (v <= 0.0031308) {
        return 12.92 * v;
    }
    return 1.055 * std::pow(v, 1.0 / 2.4) - 0.055;
}

}  // namespace

QColor RGB::color() const {
    return QColor::fromRgbF(static_cast<float>(red), static_cast<float>(green), static_cast<float>(blue), 1.0f);
}

RGB RGB::shifted(double lightness, double chroma, double hue) const {
    const double r = Contrast::linear(red);
    const double g = Contrast::linear(green);
    const double b = Contrast::linear(blue);

    const double x = (0.4124564 * r + 0.3575761 * g + 0.1804375 * b) / whiteX;
    const double y = 0.2126729 * r + 0.7151522 * g + 0.072175 * b;
    const double z = (0.0193339 * r + 0.119192 * g + 0.9503041 * b) / whiteZ;

    const double fx = labF(x);
    const double fy = labF(y);
    const double fz = labF(z);
    const double L = 116.0 * fy - 16.0;
    const double A = 500.0 * (fx - fy);
    const double B = 200.0 * (fy - fz);

    // The comparison is false for NaN, which lands on black-level lightness.
    const double shiftedL = L + lightness;
    const double fy2 = shiftedL >= 0 ? (std::min(shiftedL, 100.0) + 16.0) / 116.0 : 16.0 / 116.0;
    const double a2 = chroma * (A * std::cos(hue) - B * std::sin(hue));
    const double b2 = chroma * (A * std::sin(hue) + B * std::cos(hue));
    const double fx2 = fy2 + a2 / 500.0;
    const double fz2 = fy2 - b2 / 200.0;

    const double x2 = whiteX * labFInverse(fx2);
    const double y2 = labFInverse(fy2);
    const double z2 = whiteZ * labFInverse(fz2);

    return RGB{
        encode(3.2404542 * x2 - 1.5371385 * y2 - 0.4985314 * z2),
        encode(-0.969266 * x2 + 1.8760108 * y2 + 0.041556 * z2),
        encode(0.0556434 * x2 - 0.2040259 * y2 + 1.0572252 * z2),
    };
}

}  // namespace kelto
