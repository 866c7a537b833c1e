#include "Platform/Desktop/FileRevealer.h"

#include "Platform/Desktop/ProgramLauncher.h"
#include "Platform/Desktop/internal/PortalOpenRequest.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QFileInfo>
#include <QUrl>

#include <memory>
#include <optional>
#include <vector>

namespace kelto {
namespace {

using Way = std::function<void(FileRevealer::Done tookIt)>;

// Tries each way in turn until one takes the request; false once none did.
void tryInTurn(std::shared_ptr<const std::vector<Way>> ways, std::size_t index, FileRevealer::Done done) {
    if (index == ways->size()) {
        if (done) done(false);
        return;
    }
    (*ways)[index]([ways, index, done](bool tookIt) {
        if (tookIt) {
            if (done) done(true);
        } else {
            tryInTurn(ways, index + 1, done);
        }
    });
}

void tryInTurn(std::vector<Way> ways, FileRevealer::Done done) {
    // Every answer comes later: a way that fails at once answers from the
    // event loop too.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [ways = std::make_shared<const std::vector<Way>>(std::move(ways)), done = std::move(done)] {
            tryInTurn(ways, 0, done);
        },
        Qt::QueuedConnection);
}

QString uriOf(const QString& path) {
    return QString::fromUtf8(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toEncoded());
}

// ShowItems selects the file in its folder; ShowFolders opens the folder.
Way fileManager(const QDBusConnection& bus, const QString& method, const QString& path, int patienceMs) {
    return [bus, method, uri = uriOf(path), patienceMs](FileRevealer::Done tookIt) {
        if (!bus.isConnected()) {
            tookIt(false);
            return;
        }
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
            QStringLiteral("org.freedesktop.FileManager1"), method);
        call << QStringList{uri} << QString();
        auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, patienceMs), QCoreApplication::instance());
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [watcher, tookIt] {
            watcher->deleteLater();
            tookIt(!watcher->isError());
        });
    };
}

// OpenDirectory shows the folder that holds the file; OpenFile on a folder
// opens the folder itself. A portal that did not open it, for whatever
// reason, leaves it to the next way.
Way portal(const QDBusConnection& bus, const QString& method, const QString& path, int patienceMs) {
    return [bus, method, path, patienceMs](FileRevealer::Done tookIt) {
        PortalOpenRequest::start(bus, method, path, patienceMs,
                                 [tookIt = std::move(tookIt)](const std::optional<PortalOpenRequestError>& failure) {
                                     tookIt(!failure);
                                 });
    };
}

// An opener ends with a failure when it finds nothing to open the folder
// with; one that starts a program may keep it waiting until its window
// closes.
Way program(const QString& name, QStringList arguments, int patienceMs) {
    return [command = QStringList{name} + arguments, patienceMs](FileRevealer::Done tookIt) {
        ProgramLauncher::run(command, std::move(tookIt), patienceMs);
    };
}

std::vector<Way> folderOpeners(const QString& folder, int patienceMs) {
    return {program(QStringLiteral("gio"), {QStringLiteral("open"), folder}, patienceMs),
            program(QStringLiteral("xdg-open"), {folder}, patienceMs)};
}

}  // namespace

void FileRevealer::open(const QString& folder, Done done) {
    open(folder, QDBusConnection::sessionBus(), std::move(done));
}

void FileRevealer::open(const QString& folder, const QDBusConnection& bus, Done done, int patienceMs) {
    std::vector<Way> ways{fileManager(bus, QStringLiteral("ShowFolders"), folder, patienceMs),
                          portal(bus, QStringLiteral("OpenFile"), folder, patienceMs)};
    for (Way& way : folderOpeners(folder, patienceMs)) ways.push_back(std::move(way));
    tryInTurn(std::move(ways), std::move(done));
}

void FileRevealer::reveal(const QString& path, Done done) {
    reveal(path, QDBusConnection::sessionBus(), std::move(done));
}

void FileRevealer::reveal(const QString& path, const QDBusConnection& bus, Done done, int patienceMs) {
    std::vector<Way> ways{fileManager(bus, QStringLiteral("ShowItems"), path, patienceMs),
                          portal(bus, QStringLiteral("OpenDirectory"), path, patienceMs)};
    for (Way& way : folderOpeners(QFileInfo(path).absolutePath(), patienceMs)) ways.push_back(std::move(way));
    tryInTurn(std::move(ways), std::move(done));
}

}  // namespace kelto
