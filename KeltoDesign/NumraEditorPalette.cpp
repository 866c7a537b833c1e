#include "KeltoDesign/NumraEditorPalette.h"

#include "FenraCore/FenraTheme.h"

#include <cstdint>

namespace kelto {
namespace {

struct Entry {
    std::string_view rawValue;
    const FenraColor& (*theme)();
    std::uint32_t dark;
};

// In declaration order: the theme colour taken in light appearance and the
// fixed dark value as 0xRRGGBB.
const std::array<Entry, NumraEditorPalettes::count> entries{{
    {"background", &FenraTheme::surface, 0x26272B},
    {"text", &FenraTheme::textPrimary, 0xEEEDEF},
    {"keyword", &FenraTheme::textPrimary, 0x95C9F0},
    {"unit", &FenraTheme::secondaryAccent, 0x95C9F0},
    {"currency", &FenraTheme::accent, 0x95C9F0},
    {"result", &FenraTheme::textPrimary, 0x94D69C},
    {"heading", &FenraTheme::textPrimary, 0xEAC477},
    {"comment", &FenraTheme::textSecondary, 0xAAABB2},
    {"variable", &FenraTheme::warning, 0xE8B86D},
    {"error", &FenraTheme::error, 0xF49A91},
    {"footerText", &FenraTheme::textSecondary, 0xAAABB2},
    {"separator", &FenraTheme::textTertiary, 0x777A85},
    {"selection", &FenraTheme::accent, 0x95C9F0},
    {"selectionText", &FenraTheme::onAccent, 0x26272B},
}};

RGB fromHex(std::uint32_t hex) {
    return RGB::from255((hex >> 16) & 0xFF, (hex >> 8) & 0xFF, hex & 0xFF);
}

}  // namespace

namespace NumraEditorPalettes {

const std::array<NumraEditorPalette, count>& allCases() {
    static const std::array<NumraEditorPalette, count> cases = [] {
        std::array<NumraEditorPalette, count> all{};
        for (std::size_t index = 0; index < count; ++index) {
            all[index] = static_cast<NumraEditorPalette>(index);
        }
        return all;
    }();
    return cases;
}

std::string_view rawValue(NumraEditorPalette role) {
    return entries[static_cast<std::size_t>(role)].rawValue;
}

std::optional<NumraEditorPalette> fromRawValue(std::string_view text) {
    for (std::size_t index = 0; index < count; ++index) {
        if (entries[index].rawValue == text) {
            return static_cast<NumraEditorPalette>(index);
        }
    }
    return std::nullopt;
}

const NumraPaletteColor& color(NumraEditorPalette role) {
    static const std::array<NumraPaletteColor, count> registry = [] {
        std::array<NumraPaletteColor, count> colors{};
        for (std::size_t index = 0; index < count; ++index) {
            const Entry& entry = entries[index];
            colors[index] = NumraPaletteColor{QStringLiteral("KeltoNumra.") + QString::fromLatin1(entry.rawValue),
                                              &entry.theme(), fromHex(entry.dark)};
        }
        return colors;
    }();
    return registry[static_cast<std::size_t>(role)];
}

}  // namespace NumraEditorPalettes

}  // namespace kelto
