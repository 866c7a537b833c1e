#pragma once

#include "KeltoPermissions/PrivacyAnchor.h"
#include "Platform/Desktop/DesktopKind.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace kelto {

// Where to send the user to grant something: a privacy pane, the
// notification settings of an application (by its desktop file id), the
// keyboard shortcuts, or the programs started at login.
struct SettingsDestination {
    enum class Kind { privacy, notifications, keyboardShortcuts, loginItems };

    Kind kind = Kind::loginItems;
    PrivacyAnchor anchor = PrivacyAnchor::allFiles;  // privacy only
    QString bundleID;                                // notifications only

    static SettingsDestination privacy(PrivacyAnchor anchor);
    static SettingsDestination notifications(const QString& bundleID);
    static SettingsDestination keyboardShortcuts();
    static SettingsDestination loginItems();

    // The desktop's own programs that show the place, best first; none for
    // the privacy panes, which have no counterpart here.
    std::vector<QStringList> candidateCommands(DesktopKind desktop) const;

    // Payloads count only for the case that carries them.
    friend bool operator==(const SettingsDestination& a, const SettingsDestination& b);
};

}  // namespace kelto
