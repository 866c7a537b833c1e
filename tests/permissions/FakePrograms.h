#pragma once

#include <QByteArray>
#include <QEventLoop>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>

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
    };

    FakePrograms();
    ~FakePrograms();
    FakePrograms(const FakePrograms&) = delete;
    FakePrograms& operator=(const FakePrograms&) = delete;

    const QString& folder() const { return folder_; }
    QString add(const QString& name, const QByteArray& output = {}, int status = 0);
    std::optional<Start> next(int timeoutMs = 10'000);
    Start started() { return next().value_or(Start{}); }

private:
    std::optional<Start> parse();

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
