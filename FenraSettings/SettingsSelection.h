#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace kelto {

// Keeps the sidebar's selection on a pane that exists.
struct SettingsSelection {
    // The selection when it is among `ids`; else the fallback when it is;
    // else the first id; with no ids, the fallback all the same.
    static QString resolve(const std::optional<QString>& selection, const QStringList& ids, const QString& fallback);
};

}  // namespace kelto
