#pragma once

#include <QString>
#include <QStringList>

namespace kelto {

// Our login item: the autostart entry that starts this program at login
// with "--login-item".
struct LoginItem {
    QString entryPath;
    QString executable;
    // The entry's Name.
    QString name;

    // $XDG_CONFIG_HOME/autostart/kelto-sync.desktop, the running program,
    // the application's name.
    static LoginItem current();

    QStringList command() const;
};

}  // namespace kelto
