#include "Kelto_Sync/App/SingleInstance.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QStringList>

#include "SyncModel/Support/FileDescriptor.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace kelto {

namespace {

const QByteArray reopenMessage = QByteArrayLiteral("reopen\n");

// The first item in the folder that is not the user's, or nothing.
QString foreignItem(const FileDescriptor& folder) {
    const int listed = ::openat(folder.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* stream = listed < 0 ? nullptr : ::fdopendir(listed);
    if (stream == nullptr) {
        const int error = errno;
        if (listed >= 0) ::close(listed);
        return QStringLiteral("it cannot be read (%1)").arg(QString::fromLocal8Bit(std::strerror(error)));
    }
    QString found;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(stream);
        if (entry == nullptr) {
            if (errno != 0)
                found = QStringLiteral("it cannot be read (%1)").arg(QString::fromLocal8Bit(std::strerror(errno)));
            break;
        }
        struct stat item {};
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        if (::fstatat(::dirfd(stream), entry->d_name, &item, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT) continue;
            found = QStringLiteral("it cannot be read (%1)").arg(QString::fromLocal8Bit(std::strerror(errno)));
            break;
        }
        if (item.st_uid != ::geteuid()) {
            found = QStringLiteral("it holds %1 of user %2").arg(QFile::decodeName(entry->d_name)).arg(item.st_uid);
            break;
        }
    }
    ::closedir(stream);
    return found;
}

// Makes the folder the user's alone: made with no access for others when
// missing; one of the user's own that others may enter (earlier versions made
// it so) loses their access. What keeps it from being the user's alone, or
// nothing: a folder of another user, a link or anything else in its place,
// or an item of another user inside.
QString makePrivate(const QString& folder) {
    const QByteArray path = QFile::encodeName(folder);
    if (::mkdir(path.constData(), S_IRWXU) != 0 && errno != EEXIST)
        return QStringLiteral("it cannot be made (%1)").arg(QString::fromLocal8Bit(std::strerror(errno)));
    // Opened without following a link: what is checked and tightened is what
    // stands at the path, never where a link leads.
    FileDescriptor opened(::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!opened.valid()) {
        if (errno == ELOOP) return QStringLiteral("it is a symbolic link");
        if (errno == ENOTDIR) return QStringLiteral("it is not a folder");
        return QStringLiteral("it cannot be read (%1)").arg(QString::fromLocal8Bit(std::strerror(errno)));
    }
    struct stat found {};
    if (::fstat(opened.get(), &found) != 0)
        return QStringLiteral("it cannot be read (%1)").arg(QString::fromLocal8Bit(std::strerror(errno)));
    if (found.st_uid != ::geteuid()) return QStringLiteral("it belongs to user %1").arg(found.st_uid);
    if ((found.st_mode & 07777) != S_IRWXU && ::fchmod(opened.get(), S_IRWXU) != 0)
        return QStringLiteral("others' access to it cannot be taken away (%1)")
            .arg(QString::fromLocal8Bit(std::strerror(errno)));
    // Private from here on, it may still hold what others put in while they
    // could (a lock naming a live instance, a socket of theirs to answer).
    return foreignItem(opened);
}

}  // namespace

SingleInstance::SingleInstance(QString runtimeFolder, bool shared, QObject* parent)
    : QObject(parent), folder_(std::move(runtimeFolder)), shared_(shared) {
    connect(&server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_.nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (!socket->canReadLine()) return;
                if (socket->readLine() == reopenMessage) emit reopenRequested();
                socket->disconnectFromServer();
            });
        }
    });
}

SingleInstance::~SingleInstance() { server_.close(); }

SingleInstance::Claim SingleInstance::claim(std::chrono::milliseconds patience) {
    const auto withoutCheck = [this](Claim claim, const QString& why) {
        refusal_ = QStringLiteral("Kelto Sync runs without its check for a second instance: ") + why;
        return claim;
    };
    // In a shared folder anyone may have made ours first, to hold the lock
    // or to listen in our socket's place.
    if (shared_) {
        if (const QString problem = makePrivate(folder_); !problem.isEmpty()) {
            return withoutCheck(Claim::refused,
                                QStringLiteral("the runtime folder %1 is not yours alone (%2). Remove it or set "
                                               "XDG_RUNTIME_DIR.")
                                    .arg(folder_, problem));
        }
    } else if (!QDir().mkpath(folder_)) {
        return withoutCheck(Claim::failed, QStringLiteral("the runtime folder %1 cannot be made.").arg(folder_));
    }
    const QString socketPath = folder_ + QStringLiteral("/kelto-sync.socket");
    lock_ = std::make_unique<QLockFile>(folder_ + QStringLiteral("/kelto-sync.lock"));
    // A lock whose process is gone is taken over at once.
    lock_->setStaleLockTime(0);
    if (lock_->tryLock(0)) {
        QLocalServer::removeServer(socketPath);
        server_.setSocketOptions(QLocalServer::UserAccessOption);
        // Without the socket a later launch cannot reach us, yet the lock
        // still keeps it from running a second scheduler.
        if (!server_.listen(socketPath)) {
            qWarning("kelto-sync: cannot listen on %s: %s", qPrintable(socketPath), qPrintable(server_.errorString()));
        }
        return Claim::primary;
    }
    const bool heldByAnother = lock_->error() == QLockFile::LockFailedError;
    lock_.reset();
    if (!heldByAnother)
        return withoutCheck(Claim::failed,
                            QStringLiteral("no lock file can be made in the runtime folder %1.").arg(folder_));
    // The holder may be starting still: it listens right after locking.
    QElapsedTimer waited;
    waited.start();
    while (true) {
        QLocalSocket socket;
        socket.connectToServer(socketPath);
        if (socket.waitForConnected(200)) {
            socket.write(reopenMessage);
            socket.waitForBytesWritten(1000);
            socket.waitForDisconnected(1000);
            return Claim::forwarded;
        }
        if (waited.elapsed() >= patience.count()) return Claim::unreachable;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

void SingleInstance::waitForExit(qint64 pid) {
    if (pid <= 0) return;
    const int handle = static_cast<int>(::syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0));
    if (handle < 0) return;  // already gone (or not ours to see)
    pollfd watched{handle, POLLIN, 0};
    while (::poll(&watched, 1, -1) < 0 && errno == EINTR) {
    }
    ::close(handle);
}

qint64 SingleInstance::relaunchAfter(const QStringList& arguments) {
    const qsizetype at = arguments.indexOf(QStringLiteral("--relaunch-after"));
    if (at < 1 || at + 1 >= arguments.size()) return 0;
    bool ok = false;
    const qint64 pid = arguments[at + 1].toLongLong(&ok);
    return ok ? pid : 0;
}

}  // namespace kelto
