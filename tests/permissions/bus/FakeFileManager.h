#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QStringList>

namespace kelto {

// The desktop's file manager on the test's own session bus: remembers what
// it was asked to show and signals each request.
class FakeFileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public:
    FakeFileManager();
    ~FakeFileManager() override;

    bool registered = false;
    QStringList shown;
    QStringList foldersShown;

signals:
    void itemsShown(const QStringList& uris);

public slots:
    void ShowItems(const QStringList& uris, const QString& startupId);
    void ShowFolders(const QStringList& uris, const QString& startupId);

private:
    QDBusConnection bus_;
};

}  // namespace kelto
