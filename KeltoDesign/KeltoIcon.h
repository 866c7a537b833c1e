#pragma once

#include <QString>

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

namespace kelto {

// The product's own glyphs: the general settings pane and the permissions.
enum class KeltoIcon { paneGeneral, permissionFullDisk, permissionAccessibility, permissionNotifications, permissionLoginItem };

// The symbol artwork the icon draws.
QString symbolName(KeltoIcon icon);

namespace KeltoIcons {
inline constexpr std::size_t count = 5;
// Every icon in declaration order.
const std::array<KeltoIcon, count>& allCases();
// The case name, spelled exactly.
std::string_view rawValue(KeltoIcon icon);
// The icon whose raw value is exactly `text` (case-sensitive, whole string).
std::optional<KeltoIcon> fromRawValue(std::string_view text);
}  // namespace KeltoIcons

}  // namespace kelto
