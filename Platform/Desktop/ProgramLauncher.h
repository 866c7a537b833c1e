#pragma once

#include <QString>
#include <QStringList>

namespace kelto {

// Starts programs on their own, as argument lists: no shell ever reads them,
// so spaces, quotes and ";" reach the program as they are. A name without a
// slash is looked up on PATH.
struct ProgramLauncher {
    // `command` is the program followed by its arguments. True when the
    // program started, and then `pid`, when given, is its process id;
    // otherwise `error`, when given, says why.
    static bool start(const QStringList& command, QString* error = nullptr, qint64* pid = nullptr);
};

}  // namespace kelto
