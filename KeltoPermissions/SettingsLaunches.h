#pragma once

#include "Platform/Desktop/DesktopWindows.h"

#include <QString>
#include <QStringList>

#include <set>
#include <vector>

namespace kelto {

// The programs the settings opener started in this process, so that the
// companion follows whatever it started, not only the desktops' settings
// programs. A window is theirs when its process is one they started (or one
// started by it), or when its class names one of them; a window found by
// its process teaches its class, by which its exit is then recognised.
// GUI thread only.
class SettingsLaunches {
public:
    static SettingsLaunches& shared();

    // A command the opener started: its windows carry the program's file
    // name as their class, or, for xdg-open on a folder, the class of the
    // desktop's file manager (asked of xdg-mime, answered later).
    void started(const QStringList& command, qint64 pid);
    bool owns(const DesktopWindows::Window& window);
    // Whether a program (a lower-case window class) is one of them.
    bool names(const QString& program) const;

private:
    void add(const QStringList& names, qint64 pid);

    QStringList names_;
    std::vector<qint64> pids_;
    // Processes of windows already found to be none of theirs.
    std::set<qint64> strangers_;
};

}  // namespace kelto
