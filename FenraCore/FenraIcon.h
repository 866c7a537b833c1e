#pragma once

#include "FenraCore/FenraIconGroup.h"

#include <QString>

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

namespace kelto {

// The kit's catalogue of generic action, status and object icons. `delete_`
// is spelled so only because `delete` is reserved; its raw value is "delete".
enum class FenraIcon {
    add, remove, delete_, close, more, copy, paste, copyPath, share, link, refresh, undo, pin, unpin,
    edit, cut, sort, expand, collapse, disclose, moveUp, moveDown, reorder, duplicate, favorite,
    airDrop, success, warning, selected, error, info, paused, stopped, interrupted, skipped, folder,
    file, photo, files, archive, upload, sync, lock, viewers, permission, text, richText
};

// The symbol artwork the icon draws.
QString symbolName(FenraIcon icon);

namespace FenraIcons {
inline constexpr std::size_t count = 47;
// Every icon in declaration order.
const std::array<FenraIcon, count>& allCases();
// The case name, spelled exactly.
std::string_view rawValue(FenraIcon icon);
// The icon whose raw value is exactly `text` (case-sensitive, whole string).
std::optional<FenraIcon> fromRawValue(std::string_view text);
FenraIconGroup group(FenraIcon icon);
}  // namespace FenraIcons

}  // namespace kelto
