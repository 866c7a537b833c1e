#pragma once

#include "SyncAutomation/Async/Executor.h"
#include "SyncAutomation/Async/Subscription.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

namespace kelto {

// A value that observers follow: a new observer first receives the current
// value, then every later one, on the executor it chose. An observer that
// has not yet been handed a value keeps only the newest, so a slow one sees
// the latest state and holds at most one pending copy.
template <typename T>
class NewestValue {
public:
    using Callback = std::function<void(const T&)>;

    explicit NewestValue(T initial = T{}) : state_(std::make_shared<State>(std::move(initial))) {}
    NewestValue(const NewestValue&) = delete;
    NewestValue& operator=(const NewestValue&) = delete;

    T get() const {
        std::lock_guard lock(state_->mutex);
        return state_->value;
    }

    // Stores the value and hands it to every observer.
    void set(T value) {
        std::lock_guard lock(state_->mutex);
        state_->value = std::move(value);
        for (const auto& [id, observer] : state_->observers) deliver(observer, state_->value);
    }

    // Like set(), but an equal value is stored silently; whether it changed.
    bool setIfChanged(T value) {
        std::lock_guard lock(state_->mutex);
        if (state_->value == value) return false;
        state_->value = std::move(value);
        for (const auto& [id, observer] : state_->observers) deliver(observer, state_->value);
        return true;
    }

    // The executor must outlive the subscription.
    Subscription observe(Executor& executor, Callback callback) {
        auto observer = std::make_shared<Observer>(executor, std::move(callback));
        std::uint64_t id = 0;
        {
            std::lock_guard lock(state_->mutex);
            id = state_->nextID++;
            state_->observers.emplace(id, observer);
            deliver(observer, state_->value);
        }
        return Subscription([weak = std::weak_ptr<State>(state_), observer, id] {
            observer->alive = false;
            if (auto state = weak.lock()) {
                std::lock_guard lock(state->mutex);
                state->observers.erase(id);
            }
        });
    }

private:
    struct Observer {
        Observer(Executor& executor, Callback callback) : executor(executor), callback(std::move(callback)) {}
        Executor& executor;
        Callback callback;
        std::atomic<bool> alive{true};
        std::mutex mutex;
        std::optional<T> pending;
        bool scheduled = false;
    };
    struct State {
        explicit State(T value) : value(std::move(value)) {}
        mutable std::mutex mutex;
        T value;
        std::map<std::uint64_t, std::shared_ptr<Observer>> observers;
        std::uint64_t nextID = 0;
    };

    static void deliver(const std::shared_ptr<Observer>& observer, const T& value) {
        std::lock_guard lock(observer->mutex);
        observer->pending = value;
        if (observer->scheduled) return;  // the delivery already on its way takes the newest
        observer->scheduled = true;
        observer->executor.post([observer] {
            std::optional<T> newest;
            {
                std::lock_guard lock(observer->mutex);
                newest = std::move(observer->pending);
                observer->pending.reset();
                observer->scheduled = false;
            }
            if (newest && observer->alive) observer->callback(*newest);
        });
    }

    std::shared_ptr<State> state_;
};

}  // namespace kelto
