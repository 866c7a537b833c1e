#include "Kelto_Sync/App/QuitController.h"

#include "Kelto_Sync/AlertBox.h"
#include "Kelto_Sync/SyncStrings.h"

#include <QEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QSocketNotifier>

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace kelto {

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int number) {
    const int saved = errno;
    const char byte = static_cast<char>(number);
    [[maybe_unused]] const auto written = ::write(signalPipe[0], &byte, 1);
    errno = saved;
}

}  // namespace

QuitController::QuitController(Dependencies dependencies, QObject* parent)
    : QObject(parent), dependencies_(std::move(dependencies)) {}

QuitController::~QuitController() {
    if (signals_) {
        std::signal(SIGTERM, SIG_DFL);
        std::signal(SIGINT, SIG_DFL);
    }
}

void QuitController::requestQuit(bool personAsked) {
    // Unsaved edits are asked about only when a person quits: a signal or
    // the session's end waits for no one.
    if (personAsked && !terminating_ && dependencies_.leaveDrafts) {
        dependencies_.leaveDrafts([this] { quitLeavingNoDraft(true); }, [this] { dependencies_.cancelRelaunch(); });
        return;
    }
    quitLeavingNoDraft(personAsked);
}

void QuitController::quitLeavingNoDraft(bool personAsked) {
    AppModelInterface* model = dependencies_.model ? dependencies_.model() : nullptr;
    if (!model || model->statuses().empty()) {
        dependencies_.quit();
        return;
    }
    // The stop under way ends in a quit; a second request waits for it. A
    // person's request while the alert is open waits for the alert; a
    // signal does not.
    if (terminating_ || (personAsked && asking_)) return;
    if (personAsked) {
        asking_ = true;
        const bool stop = dependencies_.confirmStop();
        asking_ = false;
        // A signal may have started the stop while the alert was open.
        if (terminating_) return;
        if (!stop) {
            dependencies_.cancelRelaunch();
            return;
        }
    }
    stopAndQuit();
}

void QuitController::stopAndQuit() {
    terminating_ = true;
    AppModelInterface* model = dependencies_.model();
    model->shutdown([quit = dependencies_.quit] { quit(); });
}

void QuitController::watchSignals() {
    if (signals_) return;
    if (signalPipe[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) return;
    signals_ = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, this);
    connect(signals_, &QSocketNotifier::activated, this, [this] {
        char byte = 0;
        if (::read(signalPipe[1], &byte, 1) == 1) requestQuit(false);
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

void QuitController::watchApplication(QCoreApplication& application, std::function<void()> willTerminate) {
    connect(&application, &QCoreApplication::aboutToQuit, this, std::move(willTerminate));
    application.installEventFilter(this);
    if (auto* gui = qobject_cast<QGuiApplication*>(&application)) {
        connect(gui, &QGuiApplication::commitDataRequest, this, [this] { requestQuit(false); });
    }
}

bool QuitController::eventFilter(QObject* watched, QEvent* event) {
    // Left to the application, the quit would close every window and end the
    // loop around the rules; the controller's own quit is an exit, not this.
    if (event->type() == QEvent::Quit && watched == QCoreApplication::instance()) {
        requestQuit(true);
        return true;
    }
    // Ctrl+Q quits from every window: one whose own action holds the keys
    // (the main window's menu, the tray's popup) takes them as a shortcut
    // first, and the key press never comes here.
    if (event->type() == QEvent::KeyPress && watched->isWidgetType()) {
        const auto* key = static_cast<const QKeyEvent*>(event);
        if (QKeySequence(key->keyCombination()) == quitKeys) {
            requestQuit(true);
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

bool QuitController::askToStop() {
    const SyncStrings strings = SyncStrings::application();
    const QLocale locale;
    AlertBox alert;
    alert.setTitle(strings.text(QStringLiteral("Quit while syncing?"), locale));
    alert.setMessage(
        strings.text(QStringLiteral("Active transfers will be cancelled before Kelto Sync quits."), locale));
    QPushButton* stop = alert.addButton(strings.text(QStringLiteral("Stop and quit"), locale), QMessageBox::AcceptRole);
    alert.addButton(strings.text(QStringLiteral("Cancel"), locale), QMessageBox::RejectRole);
    alert.setDefaultButton(stop);
    alert.exec();
    return alert.clickedButton() == stop;
}

}  // namespace kelto
