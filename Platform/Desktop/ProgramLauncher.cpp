#include "Platform/Desktop/ProgramLauncher.h"

#include <QProcess>

namespace kelto {

bool ProgramLauncher::start(const QStringList& command, QString* error, qint64* pid) {
    if (command.isEmpty() || command.first().isEmpty()) {
        if (error) *error = QStringLiteral("No program to start");
        return false;
    }
    QProcess process;
    process.setProgram(command.first());
    process.setArguments(command.mid(1));
    process.setStandardInputFile(QProcess::nullDevice());
    if (process.startDetached(pid)) {
        return true;
    }
    if (error) *error = process.errorString();
    return false;
}

}  // namespace kelto
