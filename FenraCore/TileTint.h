#pragma once

#include "FenraCore/RGB.h"

#include <array>
#include <cstddef>

namespace kelto {

// The colours of folded tiles. Each has a base and, derived from it in
// CIELAB, a shadow for the fold and a highlight for the crease.
enum class TileTint { cobalt, sky, coral, kelto, green, navy, graphite };

namespace TileTints {
inline constexpr std::size_t count = 7;
const std::array<TileTint, count>& allCases();
// The three shades are derived once per process, on first use.
RGB base(TileTint tint);
RGB shadow(TileTint tint);
RGB highlight(TileTint tint);
// White, except on kelto's yellow, which takes navy's base.
RGB symbolColor(TileTint tint);
}  // namespace TileTints

}  // namespace kelto
