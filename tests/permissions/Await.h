#pragma once

#include <QEventLoop>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

namespace kelto::test {

// What an operation answered through its callback, and whether the callback ran before the operation returned.
template <class T>
struct Awaited {
    std::optional<T> value;
    bool answeredInside = false;
};

// Starts the operation and runs the event loop until it answers or `timeoutMs` passes.
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

// For callbacks without a value.
inline Awaited<bool> awaitDone(const std::function<void(std::function<void()>)>& start, int timeoutMs = 10'000) {
    return await<bool>([&](std::function<void(bool)> answer) { start([answer] { answer(true); }); }, timeoutMs);
}

}  // namespace kelto::test
