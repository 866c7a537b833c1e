#include "tests/permissions/bus/FakeFileManager.h"

namespace kelto {

namespace {
constexpr const char* connectionName = "fake-file-manager";
}

FakeFileManager::FakeFileManager() : bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName)) {
    bus_.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), this, QDBusConnection::ExportAllSlots);
    registered = bus_.registerService(QStringLiteral("org.freedesktop.FileManager1"));
}

FakeFileManager::~FakeFileManager() {
    bus_.unregisterService(QStringLiteral("org.freedesktop.FileManager1"));
    bus_.unregisterObject(QStringLiteral("/org/freedesktop/FileManager1"));
    QDBusConnection::disconnectFromBus(QLatin1String(connectionName));
}

void FakeFileManager::ShowItems(const QStringList& uris, const QString& startupId) {
    Q_UNUSED(startupId);
    shown += uris;
    emit itemsShown(uris);
}

void FakeFileManager::ShowFolders(const QStringList& uris, const QString& startupId) {
    Q_UNUSED(startupId);
    foldersShown += uris;
}

}  // namespace kelto
