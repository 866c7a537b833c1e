#pragma once

#include <QDBusConnection>
#include <QString>

#include <functional>

namespace kelto {

// Shows a file selected in the desktop's file manager: through the file
// manager's D-Bus interface (org.freedesktop.FileManager1), else by opening
// the folder that holds it with xdg-open; or opens a folder itself.
struct FileRevealer {
    // Called on the GUI thread once, never from inside the call: true once
    // the file manager took the request or the folder's opener opened it,
    // false when neither could (no file manager, no opener, or an opener
    // that found nothing to open it with).
    using Done = std::function<void(bool shown)>;

    static void reveal(const QString& path, Done done = {});
    static void reveal(const QString& path, const QDBusConnection& bus, Done done);
    static void open(const QString& folder, Done done = {});
};

}  // namespace kelto
