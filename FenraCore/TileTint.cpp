#include "FenraCore/TileTint.h"

namespace kelto::TileTints {
namespace {

struct Shades {
    RGB base;
    RGB shadow;
    RGB highlight;
};

constexpr std::array<RGB, count> baseColors{{
    RGB::from255(43, 75, 255),
    RGB::from255(61, 125, 242),
    RGB::from255(242, 85, 74),
    RGB::from255(255, 201, 60),
    RGB::from255(30, 154, 98),
    RGB::from255(11, 20, 51),
    RGB::from255(124, 130, 150),
}};

// The crease highlight's shift; with it cobalt's highlight lands exactly on
// the dark accent colour.
constexpr double highlightLightness = 30.830530262846104;
constexpr double highlightChroma = 0.39494871573652307;
constexpr double highlightHue = -0.38230155616164874;

const Shades& shadesOf(TileTint tint) {
    static const std::array<Shades, count> table = [] {
        std::array<Shades, count> shades{};
        for (std::size_t i = 0; i < count; ++i) {
            const RGB base = baseColors[i];
            shades[i] = Shades{
                base,
                base.shifted(-12, 1, 0),
                base.shifted(highlightLightness, highlightChroma, highlightHue),
            };
        }
        return shades;
    }();
    return table[static_cast<std::size_t>(tint)];
}

}  // namespace

const std::array<TileTint, count>& allCases() {
    static constexpr std::array<TileTint, count> cases{
        TileTint::cobalt, TileTint::sky, TileTint::coral, TileTint::kelto,
        TileTint::green, TileTint::navy, TileTint::graphite,
    };
    return cases;
}

RGB base(TileTint tint) {
    return shadesOf(tint).base;
}

RGB shadow(TileTint tint) {
    return shadesOf(tint).shadow;
}

RGB highlight(TileTint tint) {
    return shadesOf(tint).highlight;
}

RGB symbolColor(TileTint tint) {
    return tint == TileTint::kelto ? base(TileTint::navy) : RGB::white;
}

}  // namespace kelto::TileTints
