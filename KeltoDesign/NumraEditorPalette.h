#pragma once

#include "KeltoDesign/NumraPaletteColor.h"

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

namespace kelto {

// The colour roles of a syntax-coloured editor.
enum class NumraEditorPalette {
    background, text, keyword, unit, currency, result, heading, comment, variable, error, footerText, separator,
    selection, selectionText
};

namespace NumraEditorPalettes {
inline constexpr std::size_t count = 14;
// Every role in declaration order.
const std::array<NumraEditorPalette, count>& allCases();
// The case name, spelled exactly.
std::string_view rawValue(NumraEditorPalette role);
// The role whose raw value is exactly `text` (case-sensitive, whole string).
std::optional<NumraEditorPalette> fromRawValue(std::string_view text);
// The role's colour, named "KeltoNumra." and the raw value. The registry is
// built once, on first use, and the same entry is returned every time.
const NumraPaletteColor& color(NumraEditorPalette role);
}  // namespace NumraEditorPalettes

}  // namespace kelto
