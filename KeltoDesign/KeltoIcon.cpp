#include "KeltoDesign/KeltoIcon.h"

namespace kelto {
namespace {

struct Entry {
    std::string_view rawValue;
    const char* symbolName;
};

// In declaration order.
constexpr std::array<Entry, KeltoIcons::count> entries{{
    {"paneGeneral", "gearshape"},
    {"permissionFullDisk", "internaldrive"},
    {"permissionAccessibility", "accessibility"},
    {"permissionNotifications", "bell.badge"},
    {"permissionLoginItem", "power"},
}};

}  // namespace

QString symbolName(KeltoIcon icon) {
    return QString::fromLatin1(entries[static_cast<std::size_t>(icon)].symbolName);
}

namespace KeltoIcons {

const std::array<KeltoIcon, count>& allCases() {
    static constexpr std::array<KeltoIcon, count> cases{KeltoIcon::paneGeneral, KeltoIcon::permissionFullDisk,
                                                        KeltoIcon::permissionAccessibility,
                                                        KeltoIcon::permissionNotifications, KeltoIcon::permissionLoginItem};
    return cases;
}

std::string_view rawValue(KeltoIcon icon) {
    return entries[static_cast<std::size_t>(icon)].rawValue;
}

std::optional<KeltoIcon> fromRawValue(std::string_view text) {
    for (std::size_t index = 0; index < count; ++index) {
        if (entries[index].rawValue == text) {
            return static_cast<KeltoIcon>(index);
        }
    }
    return std::nullopt;
}

}  // namespace KeltoIcons

}  // namespace kelto
