#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>

#include "Kelto_Sync/Notifications/NotificationCenter.h"

#include <deque>
#include <map>

namespace kelto {

// The notification centre on Linux: org.freedesktop.Notifications on the
// session bus. A request whose identifier was posted before replaces that
// notification (replaces_id); buttons go out only where the server lists
// "actions", and every notification has the "default" action, the click.
// There is no permission to ask for: the request is granted when a server
// answers. Nothing blocks: posts wait in order for the server's replies.
class FreedesktopNotificationCenter : public QObject, public NotificationCenter {
    Q_OBJECT

public:
    explicit FreedesktopNotificationCenter(QDBusConnection bus = QDBusConnection::sessionBus(),
                                           QObject* parent = nullptr);

    void add(const NotificationRequest& request) override;
    // CloseNotification; one whose Notify is still on its way is closed as
    // soon as the server names it.
    void remove(const QString& identifier) override;
    // True when a server answers GetServerInformation, false with no bus or
    // no server; any other error reply is FreedesktopNotificationCenterError.
    void requestAuthorization(AuthorizationAnswer answer) override;
    void setResponseHandler(ResponseHandler handler) override { handler_ = std::move(handler); }

private slots:
    void actionInvoked(uint id, const QString& action);
    void notificationClosed(uint id, uint reason);

private:
    void flush();
    void sendNext(const QStringList& capabilities);
    void forget(uint id);
    void close(uint id);

    QDBusConnection bus_;
    std::deque<NotificationRequest> pending_;
    bool sending_ = false;
    std::map<QString, uint> serverIds_;  // request identifier → server id
    QString inFlight_;                    // the identifier whose Notify awaits its reply
    bool inFlightWithdrawn_ = false;
    struct Shown {
        QString identifier;
        QString jobID;
    };
    std::map<uint, Shown> shown_;  // server id → what it shows
    ResponseHandler handler_;
};

}  // namespace kelto
