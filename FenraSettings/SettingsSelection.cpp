#include "FenraSettings/SettingsSelection.h"

namespace kelto {

QString SettingsSelection::resolve(const std::optional<QString>& selection, const QStringList& ids,
                                   const QString& fallback) {
    if (selection && ids.contains(*selection)) {
        return *selection;
    }
    if (ids.contains(fallback) || ids.isEmpty()) {
        return fallback;
    }
    return ids.first();
}

}  // namespace kelto
