#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <optional>

namespace kelto {

// The desktop portal's OpenURI on the test's own session bus: remembers the
// method and the file each call's descriptor names, and answers every
// Request with `response` (0 opened, 1 cancelled, 2 failed), or never when
// there is none.
class FakePortal : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.OpenURI")

public:
    explicit FakePortal(std::optional<uint> response);
    ~FakePortal() override;

    bool registered = false;
    // "OpenDirectory /the/path" for each call.
    QStringList calls;

public slots:
    QDBusObjectPath OpenDirectory(const QString& parentWindow, const QDBusUnixFileDescriptor& fd,
                                  const QVariantMap& options);
    QDBusObjectPath OpenFile(const QString& parentWindow, const QDBusUnixFileDescriptor& fd,
                             const QVariantMap& options);

private:
    QDBusObjectPath answer(const QString& method, const QDBusUnixFileDescriptor& fd, const QVariantMap& options);

    std::optional<uint> response_;
    QDBusConnection bus_;
};

}  // namespace kelto
