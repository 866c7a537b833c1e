#include "tests/permissions/bus/FakeFileManager.h"

namespace kelto {
namespace {
const QString object = QStringLiteral("/org/freedesktop/FileManager1");
const QString service = QStringLiteral("org.freedesktop.FileManager1");
}

FakeFileManager::FakeFileManager()
    : bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fake-file-manager"))) {
    bus_.registerObject(object, this, QDBusConnection::ExportAllSlots);
    registered = bus_.registerService(service);
}

FakeFileManager::~FakeFileManager() {
    bus_.unregisterService(service);
    bus_.unregisterObject(object);
    QDBusConnection::disconnectFromBus(QStringLiteral("fake-file-manager"));
}

void FakeFileManager::ShowItems(const QStringList& uris, const QString&) { shown += uris, emit itemsShown(uris); }

void FakeFileManager::ShowFolders(const QStringList& uris, const QString&) { foldersShown += uris; }

}  // namespace kelto
