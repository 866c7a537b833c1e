#include "Platform/Desktop/FreedesktopNotificationCenter.h"

#include "Platform/Desktop/FreedesktopNotificationCenterError.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QTimer>
#include <QVariantMap>

#include <utility>

namespace kelto {
namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");
const QString interface = QStringLiteral("org.freedesktop.Notifications");
constexpr int callTimeoutMs = 5'000;

QDBusMessage call(const QString& method) {
    return QDBusMessage::createMethodCall(service, path, interface, method);
}

// Errors that mean nobody is there to answer, as opposed to a server that
// answered with a refusal.
bool meansNoServer(const QDBusError& error) {
    switch (error.type()) {
        case QDBusError::ServiceUnknown:
        case QDBusError::NoServer:
        case QDBusError::NoReply:
        case QDBusError::Timeout:
        case QDBusError::TimedOut:
        case QDBusError::Disconnected:
            return true;
        default:
            return error.name().startsWith(QLatin1String("org.freedesktop.DBus.Error.Spawn.")) ||
                   error.name() == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner");
    }
}

}  // namespace

FreedesktopNotificationCenter::FreedesktopNotificationCenter(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {
    bus_.connect(service, path, interface, QStringLiteral("ActionInvoked"), this,
                 SLOT(actionInvoked(uint, QString)));
    bus_.connect(service, path, interface, QStringLiteral("NotificationClosed"), this,
                 SLOT(notificationClosed(uint, uint)));
}

void FreedesktopNotificationCenter::add(const NotificationRequest& request) {
    pending_.push_back(request);
    flush();
}

void FreedesktopNotificationCenter::remove(const QString& identifier) {
    std::erase_if(pending_, [&](const NotificationRequest& request) { return request.identifier == identifier; });
    if (sending_ && inFlight_ == identifier) inFlightWithdrawn_ = true;
    if (const auto shown = serverIds_.find(identifier); shown != serverIds_.end()) close(shown->second);
}

// Without waiting for the reply: a quitting application sends it on its way.
void FreedesktopNotificationCenter::close(uint id) {
    forget(id);
    if (!bus_.isConnected()) return;
    bus_.send(call(QStringLiteral("CloseNotification")) << id);
}

void FreedesktopNotificationCenter::requestAuthorization(AuthorizationAnswer answer) {
    if (!bus_.isConnected()) {
        QTimer::singleShot(0, this, [answer = std::move(answer)] { answer(false, nullptr); });
        return;
    }
    auto* watcher =
        new QDBusPendingCallWatcher(bus_.asyncCall(call(QStringLiteral("GetServerInformation")), callTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [watcher, answer = std::move(answer)] {
        watcher->deleteLater();
        const QDBusError error = watcher->error();
        if (!watcher->isError()) {
            answer(true, nullptr);
        } else if (meansNoServer(error)) {
            answer(false, nullptr);
        } else {
            answer(false, std::make_exception_ptr(FreedesktopNotificationCenterError(error.name(), error.message())));
        }
    });
}

// The capabilities are asked afresh for each burst of posts: the server may
// have been replaced since the last one.
void FreedesktopNotificationCenter::flush() {
    if (sending_ || pending_.empty()) return;
    if (!bus_.isConnected()) {
        pending_.clear();
        return;
    }
    sending_ = true;
    auto* watcher =
        new QDBusPendingCallWatcher(bus_.asyncCall(call(QStringLiteral("GetCapabilities")), callTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
        watcher->deleteLater();
        const QDBusPendingReply<QStringList> reply = *watcher;
        if (reply.isError()) {
            pending_.clear();  // no server: posts are dropped
            sending_ = false;
            return;
        }
        sendNext(reply.value());
    });
}

void FreedesktopNotificationCenter::sendNext(const QStringList& capabilities) {
    if (pending_.empty()) {
        sending_ = false;
        return;
    }
    const NotificationRequest request = std::move(pending_.front());
    pending_.pop_front();

    QStringList actions;
    if (capabilities.contains(QLatin1String("actions"))) {
        actions << QStringLiteral("default") << QString();
        for (const auto& action : request.actions) actions << action.identifier << action.title;
    }
    // A server that reads markup would take "<" and "&" in a job name as tags.
    const QString body =
        capabilities.contains(QLatin1String("body-markup")) ? request.body.toHtmlEscaped() : request.body;
    const auto previous = serverIds_.find(request.identifier);
    const uint replaces = previous == serverIds_.end() ? 0 : previous->second;
    const QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral("kelto-sync")}};

    QDBusMessage notify = call(QStringLiteral("Notify"));
    notify << QStringLiteral("Kelto Sync") << replaces << QString() << request.title << body << actions << hints
           << qint32(-1);
    inFlight_ = request.identifier;
    inFlightWithdrawn_ = false;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(notify, callTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, watcher, capabilities, identifier = request.identifier, jobID = request.jobID] {
                watcher->deleteLater();
                const QDBusPendingReply<uint> reply = *watcher;
                const bool withdrawn = std::exchange(inFlightWithdrawn_, false);
                inFlight_.clear();
                if (!reply.isError() && withdrawn) {
                    close(reply.value());
                } else if (!reply.isError()) {
                    const uint id = reply.value();
                    if (const auto old = serverIds_.find(identifier); old != serverIds_.end() && old->second != id) {
                        shown_.erase(old->second);
                    }
                    serverIds_[identifier] = id;
                    shown_[id] = Shown{identifier, jobID};
                }
                sendNext(capabilities);
            });
}

void FreedesktopNotificationCenter::actionInvoked(uint id, const QString& action) {
    const auto found = shown_.find(id);
    if (found == shown_.end() || !handler_) return;
    handler_(action, found->second.jobID);
}

void FreedesktopNotificationCenter::notificationClosed(uint id, uint) {
    forget(id);
}

void FreedesktopNotificationCenter::forget(uint id) {
    const auto found = shown_.find(id);
    if (found == shown_.end()) return;
    const auto identifier = serverIds_.find(found->second.identifier);
    if (identifier != serverIds_.end() && identifier->second == id) serverIds_.erase(identifier);
    shown_.erase(found);
}

}  // namespace kelto
