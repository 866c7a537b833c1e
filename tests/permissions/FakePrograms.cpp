#include "tests/permissions/FakePrograms.h"

#include <QDeadlineTimer>
#include <QFile>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelto::test {

// Read and write: the programs never wait for a reader, and a read never sees the end of the stream between two starts.
FakePrograms::FakePrograms() : folder_(dir_.path() + QStringLiteral("/bin")) {
    ::mkdir(QFile::encodeName(folder_).constData(), 0755);
    const QByteArray fifo = QFile::encodeName(dir_.path() + QStringLiteral("/starts"));
    ::mkfifo(fifo.constData(), 0600);
    fifo_ = ::open(fifo.constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
}

FakePrograms::~FakePrograms() {
    if (fifo_ >= 0) ::close(fifo_);
}

// One record per start: the name, the count, then each argument, all NUL-terminated. Only shell builtins: PATH may
// hold nothing else. The temporary folder's path holds no quote.
QString FakePrograms::add(const QString& name, const QByteArray& output, int status) {
    const QString path = folder_ + u'/' + name;
    const QString printed = QString::fromUtf8(output).replace(u'\'', QStringLiteral("'\\''"));
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(QStringLiteral("#!/bin/sh\nprintf '%s\\0' '%1' \"$#\" \"$@\" >> '%2/starts'\n"
                              "printf '%s' '%3'\nexit %4\n")
                   .arg(name, dir_.path(), printed, QString::number(status))
                   .toUtf8());
    file.close();
    ::chmod(QFile::encodeName(path).constData(), 0755);
    return path;
}

std::optional<FakePrograms::Start> FakePrograms::parse() {
    QList<QByteArray> fields;
    qsizetype at = 0;
    while (true) {
        const qsizetype end = pending_.indexOf('\0', at);
        if (end < 0) return std::nullopt;
        fields.append(pending_.mid(at, end - at));
        at = end + 1;
        if (fields.size() >= 2 && fields.size() == 2 + fields.at(1).toLongLong()) break;
    }
    pending_.remove(0, at);
    Start start{QString::fromUtf8(fields.at(0)), {}};
    for (const QByteArray& argument : fields.mid(2)) start.arguments.append(QString::fromUtf8(argument));
    return start;
}

std::optional<FakePrograms::Start> FakePrograms::next(int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    while (true) {
        if (auto start = parse()) return start;
        pollfd ready{fifo_, POLLIN, 0};
        if (::poll(&ready, 1, static_cast<int>(deadline.remainingTime())) <= 0) return std::nullopt;
        char buffer[4096];
        const ssize_t got = ::read(fifo_, buffer, sizeof buffer);
        if (got > 0) pending_.append(buffer, got);
    }
}

}  // namespace kelto::test
