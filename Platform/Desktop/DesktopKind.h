#pragma once

#include <QString>

namespace kelto {

// The desktops whose own settings programs we know by name.
enum class DesktopKind { gnome, kde, xfce, other };

namespace DesktopKinds {
// From an XDG_CURRENT_DESKTOP value, a colon-separated list such as
// "ubuntu:GNOME": the first name we know, compared without case.
DesktopKind fromCurrentDesktop(const QString& currentDesktop);
// The session's desktop, read from the environment each time.
DesktopKind current();
}  // namespace DesktopKinds

}  // namespace kelto
