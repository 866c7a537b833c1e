#pragma once

#include <QDBusConnection>
#include <QString>

#include <functional>

namespace kelto {

// Shows a file selected in the desktop's file manager: through the file
// manager's D-Bus interface (org.freedesktop.FileManager1), else by opening
// the folder that holds it with xdg-open.
struct FileRevealer {
    // Called on the GUI thread once the file manager took the request or the
    // folder's opener started (true), or neither (false); never from inside
    // `reveal`.
    using Done = std::function<void(bool shown)>;

    static void reveal(const QString& path, Done done = {});
    static void reveal(const QString& path, const QDBusConnection& bus, Done done);
};

}  // namespace kelto
