#pragma once

#include "KeltoPermissions/SettingsDestination.h"
#include "Platform/Desktop/DesktopKind.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace kelto {

// Opens a destination with the desktop's own programs. "Opened" means a
// program started: whether it then shows the right page is the desktop's
// affair.
struct SettingsOpener {
    // Starts a program and its arguments, no shell between; true when it
    // started.
    using Launch = std::function<bool(const QStringList& command)>;

    Launch launch;
    DesktopKind desktop = DesktopKind::other;
    // Shown with xdg-open when the desktop has no autostart editor.
    QString autostartFolder;

    // The session's desktop and autostart folder, started for real, each
    // program started noted in SettingsLaunches::shared().
    static SettingsOpener system();

    // Tries the destination's commands in order and stops at the first that
    // starts. Then, for the login items, xdg-open on the autostart folder;
    // for anything else, the desktop's settings program. True when one
    // started.
    bool open(const SettingsDestination& destination) const;

    // The desktop's settings program; for a desktop we do not know, the
    // first known one found on PATH; empty when there is none.
    static QStringList settingsProgram(DesktopKind desktop);
    // The desktops' settings programs; their windows carry these names as
    // their class. The opener starts others too: SettingsLaunches knows them.
    static QStringList settingsPrograms();
};

}  // namespace kelto
