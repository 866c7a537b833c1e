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

// xdg-open ends with a failure when it finds nothing to open the folder
// with; an opener it starts may keep it waiting until its window closes.
void openFolder(const QString& folder, const FileRevealer::Done& done) {
    ProgramLauncher::run({QStringLiteral("xdg-open"), folder}, done, showTimeoutMs);
}

}  // namespace

void FileRevealer::open(const QString& folder, Done done) { openFolder(folder, done); }

void FileRevealer::reveal(const QString& path, Done done) {
    reveal(path, QDBusConnection::sessionBus(), std::move(done));
}

void FileRevealer::reveal(const QString& path, const QDBusConnection& bus, Done done) {
    const QString holder = QFileInfo(path).absolutePath();
    if (!bus.isConnected()) {
        openFolder(holder, done);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    const QString uri = QString::fromUtf8(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toEncoded());
    call << QStringList{uri} << QString();
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, showTimeoutMs), QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [watcher, holder, done = std::move(done)] {
                         watcher->deleteLater();
                         if (watcher->isError()) {
                             openFolder(holder, done);
                         } else {
                             answer(done, true);
                         }
                     });
}

}  // namespace kelto
