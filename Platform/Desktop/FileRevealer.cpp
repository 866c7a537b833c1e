#include "Platform/Desktop/FileRevealer.h"

#include "Platform/Desktop/ProgramLauncher.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QFileInfo>
#include <QUrl>

namespace kelto {
namespace {

// Long enough for a file manager started by bus activation.
constexpr int showTimeoutMs = 10'000;

void answer(const FileRevealer::Done& done, bool shown) {
    if (!done) return;
    QMetaObject::invokeMethod(QCoreApplication::instance(), [done, shown] { done(shown); }, Qt::QueuedConnection);
}

void openFolder(const QString& path, const FileRevealer::Done& done) {
    const QString folder = QFileInfo(path).absolutePath();
    answer(done, ProgramLauncher::start({QStringLiteral("xdg-open"), folder}));
}

}  // namespace

void FileRevealer::reveal(const QString& path, Done done) {
    reveal(path, QDBusConnection::sessionBus(), std::move(done));
}

void FileRevealer::reveal(const QString& path, const QDBusConnection& bus, Done done) {
    if (!bus.isConnected()) {
        openFolder(path, done);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    const QString uri = QString::fromUtf8(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toEncoded());
    call << QStringList{uri} << QString();
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, showTimeoutMs), QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [watcher, path, done = std::move(done)] {
                         watcher->deleteLater();
                         if (watcher->isError()) {
                             openFolder(path, done);
                         } else {
                             answer(done, true);
                         }
                     });
}

}  // namespace kelto
