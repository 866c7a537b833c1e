#pragma once

#include <QEventLoop>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

namespace kelto::test {

// Starts an operation that answers through a callback and runs the event loop until the answer arrives (or `timeoutMs`
// passes). `answeredInside` tells whether the callback ran before the operation returned.
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
    start([state](T value) {
        state->value = std::move(value);
        state->loop.quit();
    });
    Awaited<T> result;
    result.answeredInside = state->value.has_value();
    if (!state->value) {
        QTimer::singleShot(timeoutMs, &state->loop, &QEventLoop::quit);
        state->loop.exec();
    }
    result.value = state->value;
    return result;
}

// For callbacks without a value.
inline Awaited<bool> awaitDone(const std::function<void(std::function<void()>)>& start, int timeoutMs = 10'000) {
    return await<bool>([&](std::function<void(bool)> answer) { start([answer] { answer(true); }); }, timeoutMs);
}

}  // namespace kelto::test
