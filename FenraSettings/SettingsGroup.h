#pragma once

#include <QHashFunctions>
#include <QString>

#include <optional>

namespace kelto {

// A section of the settings sidebar. Without a title the section has no
// heading; an absent title never equals a present one, not even "".
struct SettingsGroup {
    QString id;
    std::optional<QString> title;

    friend bool operator==(const SettingsGroup&, const SettingsGroup&) = default;
};

}  // namespace kelto

template <>
struct std::hash<kelto::SettingsGroup> {
    std::size_t operator()(const kelto::SettingsGroup& group) const noexcept {
        return group.title ? qHashMulti(0, group.id, 1, *group.title) : qHashMulti(0, group.id, 0);
    }
};
