#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace kelto {

// Starts programs on their own, as argument lists: no shell ever reads them,
// so spaces, quotes and ";" reach the program as they are. A name without a
// slash is looked up on PATH.
struct ProgramLauncher {
    // `command` is the program followed by its arguments. True when the
    // program started, and then `pid`, when given, is its process id;
    // otherwise `error`, when given, says why.
    static bool start(const QStringList& command, QString* error = nullptr, qint64* pid = nullptr);
    // Starts `command` and tells `done` once, later, on the GUI thread,
    // whether it did its work: false when it cannot start or ends in a
    // failure, true when it ends well or still runs after `patienceMs` (an
    // opener that waits for the program it opened). One still running when
    // the application ends is stopped then; what it started stays.
    static void run(const QStringList& command, std::function<void(bool worked)> done, int patienceMs);
};

}  // namespace kelto
