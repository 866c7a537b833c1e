#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <functional>

namespace kelto {

// Quits the application and starts it again. It only asks to quit; the new
// instance starts when the application really terminates, and an ordinary
// quit never starts one. GUI thread only.
class AppRelauncher {
public:
    enum class State { idle, requested, launched };

    AppRelauncher(std::function<void()> requestTermination, std::function<void()> launch);

    // Asks the application to quit and, at its end, starts this executable
    // with "--relaunch-after <our pid>".
    static AppRelauncher& shared();

    State state() const { return state_; }

    void requestRelaunch();
    // The quit the relaunch asked for was cancelled.
    void cancelRelaunch();
    // Called each time the application terminates.
    void applicationWillTerminate();

    // The new instance waits for `pid` to end before it takes the
    // single-instance lock.
    static QStringList relaunchCommand(const QString& executable, qint64 pid);
    // Starts the command detached; a failure is only logged, at error level
    // in "KeltoPermissions.relaunch".
    static bool launch(const QStringList& command);

private:
    State state_ = State::idle;
    std::function<void()> requestTermination_;
    std::function<void()> launch_;
};

}  // namespace kelto
