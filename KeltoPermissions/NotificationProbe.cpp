#include "KeltoPermissions/NotificationProbe.h"

#include "KeltoPermissions/internal/MainThread.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QProcess>
#include <QTimer>

#include <memory>

namespace kelto {
namespace {

constexpr int serverTimeoutMs = 5'000;
constexpr int switchTimeoutMs = 5'000;

void answerLater(const NotificationProbe::Answer& answer, PermissionStatus status) {
    MainThread::post([answer, status] { answer(status); });
}

// Reads the switch with gsettings; a switch that cannot be read counts as on.
void readGnomeSwitch(const QString& desktopId, const NotificationProbe::Answer& answer) {
    auto* process = new QProcess(QCoreApplication::instance());
    auto answered = std::make_shared<bool>(false);
    auto finish = [process, answered, answer](PermissionStatus status) {
        if (*answered) return;
        *answered = true;
        process->deleteLater();
        answerLater(answer, status);
    };
    QObject::connect(process, &QProcess::finished, process, [process, finish](int exitCode, QProcess::ExitStatus exit) {
        const bool off = exit == QProcess::NormalExit && exitCode == 0 &&
                         process->readAllStandardOutput().trimmed() == "false";
        finish(off ? PermissionStatus::denied : PermissionStatus::granted);
    });
    QObject::connect(process, &QProcess::errorOccurred, process, [finish](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) finish(PermissionStatus::granted);
    });
    QTimer::singleShot(switchTimeoutMs, process, [process] { process->kill(); });
    process->setStandardInputFile(QProcess::nullDevice());
    process->start(QStringLiteral("gsettings"),
                   {QStringLiteral("get"),
                    QStringLiteral("org.gnome.desktop.notifications.application:") +
                        NotificationProbe::gnomeSettingsPath(desktopId),
                    QStringLiteral("enable")});
}

}  // namespace

void NotificationProbe::status(const QString& desktopId, Answer answer) {
    status(QDBusConnection::sessionBus(), desktopId, DesktopKinds::current(), std::move(answer));
}

void NotificationProbe::status(const QDBusConnection& bus, const QString& desktopId, DesktopKind desktop,
                               Answer answer) {
    if (!bus.isConnected()) {
        answerLater(answer, PermissionStatus::unverifiable);
        return;
    }
    const QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("GetServerInformation"));
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, serverTimeoutMs), QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [watcher, desktopId, desktop, answer = std::move(answer)] {
                         watcher->deleteLater();
                         if (watcher->isError()) {
                             answerLater(answer, PermissionStatus::unverifiable);
                         } else if (desktop == DesktopKind::gnome) {
                             readGnomeSwitch(desktopId, answer);
                         } else {
                             answerLater(answer, PermissionStatus::granted);
                         }
                     });
}

void NotificationProbe::requestAuthorization(std::function<void()> done) {
    MainThread::post(std::move(done));
}

QString NotificationProbe::gnomeSettingsPath(const QString& desktopId) {
    QString id = desktopId;
    if (id.endsWith(QStringLiteral(".desktop"))) id.chop(8);
    // GNOME lower-cases the id and turns all but letters, digits and '-' into '-'.
    id = id.toLower();
    for (QChar& c : id) {
        const bool kept = (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'-';
        if (!kept) c = u'-';
    }
    return QStringLiteral("/org/gnome/desktop/notifications/application/") + id + u'/';
}

}  // namespace kelto
