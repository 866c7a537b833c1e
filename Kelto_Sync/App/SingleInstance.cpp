#include "Kelto_Sync/App/SingleInstance.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QStringList>

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

// Makes the folder with no access for others when missing; what keeps it
// from being the user's alone, or nothing.
QString notPrivate(const QString& folder) {
    const QByteArray path = QFile::encodeName(folder);
    if (::mkdir(path.constData(), S_IRWXU) != 0 && errno != EEXIST)
        return QStringLiteral("it cannot be made (%1)").arg(QString::fromLocal8Bit(std::strerror(errno)));
    struct stat found {};
    if (::lstat(path.constData(), &found) != 0)
        return QStringLiteral("it cannot be read (%1)").arg(QString::fromLocal8Bit(std::strerror(errno)));
    if (S_ISLNK(found.st_mode)) return QStringLiteral("it is a symbolic link");
    if (!S_ISDIR(found.st_mode)) return QStringLiteral("it is not a folder");
    if (found.st_uid != ::geteuid()) return QStringLiteral("it belongs to user %1").arg(found.st_uid);
    // mkdir's mode passed the umask, which may take bits but never adds any.
    if ((found.st_mode & (S_IRWXG | S_IRWXO)) != 0)
        return QStringLiteral("others have access to it (mode %1)").arg(found.st_mode & 07777, 4, 8, QLatin1Char('0'));
    return {};
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
    // In a shared folder anyone may have made ours first, to hold the lock
    // or to listen in our socket's place.
    if (shared_) {
        if (const QString problem = notPrivate(folder_); !problem.isEmpty()) {
            refusal_ = QStringLiteral("the runtime folder %1 is not yours alone: %2; remove it or set XDG_RUNTIME_DIR")
                           .arg(folder_, problem);
            return Claim::refused;
        }
    } else if (!QDir().mkpath(folder_)) {
        return Claim::failed;
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
    if (!heldByAnother) return Claim::failed;
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
