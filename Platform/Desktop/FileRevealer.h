#pragma once

#include <QDBusConnection>
#include <QString>

#include <functional>

namespace kelto {

// Shows a file selected in the desktop's file manager, or opens a folder,
// trying the desktop's ways in turn until one takes the request: the file
// manager's D-Bus interface (org.freedesktop.FileManager1), the portal's
// OpenURI, `gio open`, then `xdg-open`. Where a way cannot select the file,
// it opens the folder that holds it.
struct FileRevealer {
    // Called on the GUI thread once, never from inside the call: true once
    // a way took the request, false when none could (no file manager, no
    // portal, no opener, or openers that found nothing to open it with).
    using Done = std::function<void(bool shown)>;

    static void reveal(const QString& path, Done done = {});
    static void reveal(const QString& path, const QDBusConnection& bus, Done done);
    static void open(const QString& folder, Done done = {});
    static void open(const QString& folder, const QDBusConnection& bus, Done done);
};

}  // namespace kelto
