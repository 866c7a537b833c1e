#pragma once

#include "KeltoPermissions/PermissionStatus.h"
#include "Platform/Desktop/DesktopKind.h"

#include <QDBusConnection>
#include <QString>

#include <functional>

namespace kelto {

// Whether our notifications can be shown: a notification server answering
// on the session bus means granted, unless GNOME's switch for the
// application is off (denied); no bus or no server cannot be told.
struct NotificationProbe {
    // Called on the GUI thread, never from inside the call.
    using Answer = std::function<void(PermissionStatus)>;

    // `desktopId` is the application's desktop file id ("kelto-sync").
    static void status(const QString& desktopId, Answer answer);
    static void status(const QDBusConnection& bus, const QString& desktopId, DesktopKind desktop, Answer answer);
    // Servers show notifications unasked: there is nothing to request, and
    // `done` is called as an answer is.
    static void requestAuthorization(std::function<void()> done);
    // Where GNOME keeps the application's switch, as GNOME names it.
    static QString gnomeSettingsPath(const QString& desktopId);
};

}  // namespace kelto
