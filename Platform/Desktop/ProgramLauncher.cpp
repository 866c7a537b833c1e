#include "Platform/Desktop/ProgramLauncher.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTimer>

#include <memory>

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

void ProgramLauncher::run(const QStringList& command, std::function<void(bool worked)> done, int patienceMs) {
    // Once, and never from inside this call: a start can fail at once.
    auto answered = std::make_shared<bool>(false);
    const auto answer = [answered, done = std::move(done)](bool worked) {
        if (*answered) return;
        *answered = true;
        if (done) QMetaObject::invokeMethod(QCoreApplication::instance(), [done, worked] { done(worked); }, Qt::QueuedConnection);
    };
    if (command.isEmpty() || command.first().isEmpty()) {
        answer(false);
        return;
    }
    auto* process = new QProcess(QCoreApplication::instance());
    process->setProgram(command.first());
    process->setArguments(command.mid(1));
    process->setStandardInputFile(QProcess::nullDevice());
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    QObject::connect(process, &QProcess::errorOccurred, process, [process, answer](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart) return;
        answer(false);
        process->deleteLater();
    });
    QObject::connect(process, &QProcess::finished, process, [process, answer](int code, QProcess::ExitStatus status) {
        answer(status == QProcess::NormalExit && code == 0);
        process->deleteLater();
    });
    QTimer::singleShot(patienceMs, process, [answer] { answer(true); });
    process->start();
}

}  // namespace kelto
