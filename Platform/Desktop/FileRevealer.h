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

    // How long a way may keep the request before it counts as answered: a
    // service that has not answered by then did not take it; a program
    // still running took it (an opener waits for what it opened). Long
    // enough for a file manager started by bus activation.
    static constexpr int defaultPatienceMs = 10'000;

    static void reveal(const QString& path, Done done = {});
    static void reveal(const QString& path, const QDBusConnection& bus, Done done,
                       int patienceMs = defaultPatienceMs);
    static void open(const QString& folder, Done done = {});
    static void open(const QString& folder, const QDBusConnection& bus, Done done,
                     int patienceMs = defaultPatienceMs);
};

}  // namespace kelto
