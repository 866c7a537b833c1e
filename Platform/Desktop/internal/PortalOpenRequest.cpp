#include "Platform/Desktop/internal/PortalOpenRequest.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>
#include <QRandomGenerator>
#include <QTimer>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kelto {
namespace {

const QString requestInterface = QStringLiteral("org.freedesktop.portal.Request");

// Where the portal puts the Request for `token`; listening there before the
// call keeps a quick Response from being missed.
QString requestPath(const QDBusConnection& bus, const QString& token) {
    QString sender = bus.baseService();
    sender.remove(0, 1).replace(u'.', u'_');
    return QStringLiteral("/org/freedesktop/portal/desktop/request/") + sender + u'/' + token;
}

// Nobody there to answer, as opposed to a portal that answered no.
PortalOpenRequestError failureOf(const QDBusError& error) {
    using Code = PortalOpenRequestError::Code;
    switch (error.type()) {
        case QDBusError::NoReply:
        case QDBusError::Timeout:
        case QDBusError::TimedOut:
            return PortalOpenRequestError(Code::noAnswer);
        case QDBusError::ServiceUnknown:
        case QDBusError::NoServer:
        case QDBusError::Disconnected:
        case QDBusError::UnknownObject:
        case QDBusError::UnknownInterface:
        case QDBusError::UnknownMethod:
            return PortalOpenRequestError(Code::unavailable, error.message());
        default:
            return PortalOpenRequestError(Code::refused, error.message());
    }
}

}  // namespace

PortalOpenRequest::PortalOpenRequest(const QDBusConnection& bus, Done done) : bus_(bus), done_(std::move(done)) {}

void PortalOpenRequest::start(const QDBusConnection& bus, const QString& method, const QString& path, int patienceMs,
                              Done done) {
    using Code = PortalOpenRequestError::Code;
    auto* request = new PortalOpenRequest(bus, std::move(done));
    const auto failLater = [request](PortalOpenRequestError failure) {
        QTimer::singleShot(0, request, [request, failure] { request->answer(failure); });
    };
    // The descriptor names the file itself, so the portal needs no access to
    // the path; O_PATH opens even what the user may not read.
    const int fd = ::open(path.toLocal8Bit().constData(), O_PATH | O_CLOEXEC);
    if (fd < 0) {
        failLater(PortalOpenRequestError(Code::unopenable, QString::fromLocal8Bit(std::strerror(errno))));
        return;
    }
    if (!bus.isConnected() || !(bus.connectionCapabilities() & QDBusConnection::UnixFileDescriptorPassing)) {
        ::close(fd);
        failLater(PortalOpenRequestError(Code::unavailable));
        return;
    }
    const QString token = QStringLiteral("kelto") + QString::number(QRandomGenerator::global()->generate());
    request->listen(requestPath(bus, token));
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.portal.Desktop"), QStringLiteral("/org/freedesktop/portal/desktop"),
        QStringLiteral("org.freedesktop.portal.OpenURI"), method);
    call << QString() << QVariant::fromValue(QDBusUnixFileDescriptor(fd))
         << QVariantMap{{QStringLiteral("handle_token"), token}};
    ::close(fd);  // QDBusUnixFileDescriptor holds a copy
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, patienceMs), request);
    connect(watcher, &QDBusPendingCallWatcher::finished, request, [request, watcher] {
        watcher->deleteLater();
        const QDBusPendingReply<QDBusObjectPath> reply = *watcher;
        if (reply.isError()) {
            request->answer(failureOf(reply.error()));
            return;
        }
        // An older portal ignores the token and names its own Request.
        if (reply.value().path() != request->handle_) request->listen(reply.value().path());
    });
    // A Response may never come (a portal stuck, or gone after its reply);
    // the request must end for the caller's other ways to be tried.
    QTimer::singleShot(patienceMs, request, [request] { request->answer(PortalOpenRequestError(Code::noAnswer)); });
}

void PortalOpenRequest::listen(const QString& handle) {
    if (!handle_.isEmpty()) {
        bus_.disconnect(QString(), handle_, requestInterface, QStringLiteral("Response"), this,
                        SLOT(response(uint, QVariantMap)));
    }
    handle_ = handle;
    bus_.connect(QString(), handle_, requestInterface, QStringLiteral("Response"), this,
                 SLOT(response(uint, QVariantMap)));
}

void PortalOpenRequest::response(uint code, const QVariantMap& results) {
    Q_UNUSED(results);
    using Code = PortalOpenRequestError::Code;
    if (code == 0)
        answer(std::nullopt);
    else
        answer(PortalOpenRequestError(code == 1 ? Code::cancelled : Code::refused));
}

void PortalOpenRequest::answer(std::optional<PortalOpenRequestError> failure) {
    if (answered_) return;
    answered_ = true;
    bus_.disconnect(QString(), handle_, requestInterface, QStringLiteral("Response"), this,
                    SLOT(response(uint, QVariantMap)));
    if (done_) done_(std::move(failure));
    deleteLater();
}

}  // namespace kelto
