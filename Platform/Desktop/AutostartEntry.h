#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace kelto {

// An XDG autostart entry: a desktop file in the autostart folder that the
// session starts at login unless it is hidden or switched off.
struct AutostartEntry {
    bool hidden = false;
    // GNOME's own switch (X-GNOME-Autostart-enabled).
    bool enabled = true;
    // What Exec runs; none when the key is missing or its quoting is broken.
    std::optional<QStringList> command;

    // $XDG_CONFIG_HOME/autostart, read from the environment each time.
    static QString folder();
    static QString path(const QString& fileName);

    // The entry at `path`, none when nothing is there. Throws
    // AutostartEntryError when a file is there but cannot be read.
    static std::optional<AutostartEntry> read(const QString& path);
    // Replaces the file with an enabled entry, atomically, making the folder
    // when needed. Throws AutostartEntryError.
    static void write(const QString& path, const QString& name, const QStringList& command);
};

}  // namespace kelto
