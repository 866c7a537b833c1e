#pragma once

// A Qt header first: moc's parser stumbles over <concepts>.
#include <QKeySequence>
#include <QObject>

#include "SyncAutomation/AppModelInterface.h"

#include <functional>

class QCoreApplication;
class QSocketNotifier;

namespace kelto {

// The one way the application quits: the tray's and the window's Quit,
// Ctrl+Q, SIGTERM and SIGINT, and the end of the session. A person's quit
// first leaves the open job drafts, which may ask. With no job queued,
// running or awaiting confirmation it then quits at once; otherwise a
// person is asked first, and the model is shut down before the event loop
// ends. GUI thread only.
class QuitController : public QObject {
    Q_OBJECT
public:
    struct Dependencies {
        // The model, or null once it is gone (or start-up failed).
        std::function<AppModelInterface*()> model;
        // The alert; true for "Stop and quit".
        std::function<bool()> confirmStop;
        // A relaunch asked for by the permission setup is dropped.
        std::function<void()> cancelRelaunch;
        // Ends the event loop with status 0.
        std::function<void()> quit;
        // Leaves the open job drafts, then runs the first action, or the
        // second when a person stays with one. None: nothing to leave.
        std::function<void(std::function<void()>, std::function<void()>)> leaveDrafts = {};
    };

    static inline const QKeySequence quitKeys{Qt::CTRL | Qt::Key_Q};

    explicit QuitController(Dependencies dependencies, QObject* parent = nullptr);
    ~QuitController() override;

    // `personAsked` for a menu entry or a shortcut: only then is there an
    // alert; a signal or the session's end stops and quits at once.
    void requestQuit(bool personAsked);
    bool isTerminating() const { return terminating_; }

    // SIGTERM and SIGINT become requestQuit(false) on the event loop
    // (through a pipe written by the signal handler).
    void watchSignals();
    // The session's end quits, and so do Ctrl+Q in any window and a quit
    // asked of the application (QCoreApplication::quit(), the relauncher's
    // among them), as a person's request; `willTerminate` runs when the event loop ends, whatever ended
    // it.
    void watchApplication(QCoreApplication& application, std::function<void()> willTerminate);

    // "Quit while syncing?" with "Stop and quit" and "Cancel", modal.
    static bool askToStop();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void quitLeavingNoDraft(bool personAsked);
    void stopAndQuit();

    Dependencies dependencies_;
    bool terminating_ = false;
    bool asking_ = false;
    QSocketNotifier* signals_ = nullptr;
};

}  // namespace kelto
