#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <optional>

namespace kelto::test {

// A folder of stand-in programs, to put on PATH. Each records the arguments it was started with, and prints a set text.
class FakePrograms {
public:
    struct Start {
        QString program;
        QStringList arguments;
        QStringList command() const { return QStringList{program} + arguments; }
    };

    // Opened read and write: the programs never wait for a reader, and reads never meet the stream's end.
    FakePrograms() : folder_(dir_.path() + QStringLiteral("/bin")) {
        ::mkdir(QFile::encodeName(folder_).constData(), 0755);
        const QByteArray fifo = QFile::encodeName(dir_.path() + QStringLiteral("/starts"));
        ::mkfifo(fifo.constData(), 0600);
        fifo_ = ::open(fifo.constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    }
    ~FakePrograms() {
        if (fifo_ >= 0) ::close(fifo_);
    }
    FakePrograms(const FakePrograms&) = delete;
    FakePrograms& operator=(const FakePrograms&) = delete;

    const QString& folder() const { return folder_; }
    // One record per start: the name, the count, then each argument, all NUL-terminated. Only shell builtins: PATH
    // may hold nothing else. The temporary folder's path holds no quote.
    QString add(const QString& name, const QByteArray& output = {}, int status = 0) {
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
    std::optional<Start> next(int timeoutMs = 10'000) {
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
    Start started() { return next().value_or(Start{}); }

private:
    std::optional<Start> parse() {
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

    QTemporaryDir dir_;
    QString folder_;
    int fifo_ = -1;
    QByteArray pending_;
};

// What an operation answered through its callback, and whether the callback ran before the operation returned.
template <class T>
struct Awaited {
    std::optional<T> value;
    bool answeredInside = false;
};

template <class T>
Awaited<T> await(const std::function<void(std::function<void(T)>)>& start, int timeoutMs = 10'000) {
    struct State {
        std::optional<T> value;
        QEventLoop loop;
    };
    auto state = std::make_shared<State>();
    start([state](T value) { state->value = std::move(value), state->loop.quit(); });
    Awaited<T> result{state->value, state->value.has_value()};
    if (!result.answeredInside) {
        QTimer::singleShot(timeoutMs, &state->loop, &QEventLoop::quit);
        state->loop.exec();
        result.value = state->value;
    }
    return result;
}

inline Awaited<bool> awaitDone(const std::function<void(std::function<void()>)>& start, int timeoutMs = 10'000) {
    return await<bool>([&](std::function<void(bool)> answer) { start([answer] { answer(true); }); }, timeoutMs);
}

}  // namespace kelto::test
