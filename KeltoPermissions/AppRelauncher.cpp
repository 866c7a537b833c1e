#include "KeltoPermissions/AppRelauncher.h"

#include "Platform/Desktop/ProgramLauncher.h"

#include <QCoreApplication>
#include <QLoggingCategory>

namespace kelto {
namespace {

Q_LOGGING_CATEGORY(relaunchLog, "KeltoPermissions.relaunch")

}  // namespace

AppRelauncher::AppRelauncher(std::function<void()> requestTermination, std::function<void()> launch)
    : requestTermination_(std::move(requestTermination)), launch_(std::move(launch)) {}

AppRelauncher& AppRelauncher::shared() {
    static AppRelauncher relauncher([] { QCoreApplication::quit(); },
                                    [] {
                                        launch(relaunchCommand(QCoreApplication::applicationFilePath(),
                                                               QCoreApplication::applicationPid()));
                                    });
    return relauncher;
}

void AppRelauncher::requestRelaunch() {
    if (state_ != State::idle) return;
    state_ = State::requested;
    requestTermination_();
}

void AppRelauncher::cancelRelaunch() {
    if (state_ == State::requested) state_ = State::idle;
}

void AppRelauncher::applicationWillTerminate() {
    if (state_ != State::requested) return;
    state_ = State::launched;
    launch_();
}

QStringList AppRelauncher::relaunchCommand(const QString& executable, qint64 pid) {
    return {executable, QStringLiteral("--relaunch-after"), QString::number(pid)};
}

bool AppRelauncher::launch(const QStringList& command) {
    QString error;
    if (ProgramLauncher::start(command, &error)) return true;
    qCCritical(relaunchLog, "Relaunch failed: %s", qUtf8Printable(error));
    return false;
}

}  // namespace kelto
