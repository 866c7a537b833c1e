#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QStringList>

namespace kelto {

// Remembers what it was asked to show and signals each request.
class FakeFileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public:
    FakeFileManager() {
        bus_.registerObject(object, this, QDBusConnection::ExportAllSlots);
        registered = bus_.registerService(service);
    }
    ~FakeFileManager() override {
        bus_.unregisterService(service);
        bus_.unregisterObject(object);
        QDBusConnection::disconnectFromBus(QStringLiteral("fake-file-manager"));
    }

    bool registered = false;
    QStringList shown;
    QStringList foldersShown;

signals:
    void itemsShown(const QStringList& uris);

public slots:
    void ShowItems(const QStringList& uris, const QString&) { shown += uris, emit itemsShown(uris); }
    void ShowFolders(const QStringList& uris, const QString&) { foldersShown += uris; }

private:
    const QString object = QStringLiteral("/org/freedesktop/FileManager1");
    const QString service = QStringLiteral("org.freedesktop.FileManager1");
    QDBusConnection bus_ = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "fake-file-manager");
};

}  // namespace kelto
