#include "tests/permissions/bus/FakePortal.h"

#include <QDBusMessage>
#include <QFile>
#include <QTimer>

namespace kelto {

namespace {
constexpr const char* connectionName = "fake-portal";
const QString service = QStringLiteral("org.freedesktop.portal.Desktop");
const QString objectPath = QStringLiteral("/org/freedesktop/portal/desktop");
}  // namespace

FakePortal::FakePortal(std::optional<uint> response)
    : response_(response), bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName)) {
    bus_.registerObject(objectPath, this, QDBusConnection::ExportAllSlots);
    registered = bus_.registerService(service);
}

FakePortal::~FakePortal() {
    bus_.unregisterService(service);
    bus_.unregisterObject(objectPath);
    QDBusConnection::disconnectFromBus(QLatin1String(connectionName));
}

QDBusObjectPath FakePortal::OpenDirectory(const QString&, const QDBusUnixFileDescriptor& fd,
                                          const QVariantMap& options) {
    return answer(QStringLiteral("OpenDirectory"), fd, options);
}

QDBusObjectPath FakePortal::OpenFile(const QString&, const QDBusUnixFileDescriptor& fd, const QVariantMap& options) {
    return answer(QStringLiteral("OpenFile"), fd, options);
}

QDBusObjectPath FakePortal::answer(const QString& method, const QDBusUnixFileDescriptor& fd,
                                   const QVariantMap& options) {
    calls << method + u' ' + QFile::symLinkTarget(QStringLiteral("/proc/self/fd/") + QString::number(fd.fileDescriptor()));
    QString sender = message().service();
    sender.remove(0, 1).replace(u'.', u'_');
    const QString handle = objectPath + QStringLiteral("/request/") + sender + u'/' +
                           options.value(QStringLiteral("handle_token")).toString();
    // After the reply, as the portal answers once the user chose.
    if (response_) {
        QTimer::singleShot(0, this, [this, handle] {
            bus_.send(QDBusMessage::createSignal(handle, QStringLiteral("org.freedesktop.portal.Request"),
                                                 QStringLiteral("Response"))
                      << *response_ << QVariantMap{});
        });
    }
    return QDBusObjectPath(handle);
}

}  // namespace kelto
