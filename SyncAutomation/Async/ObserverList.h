#pragma once

#include "SyncAutomation/Async/Executor.h"
#include "SyncAutomation/Async/Subscription.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

namespace kelto {

// Observers of a sequence of values (finished runs, events): every value
// published reaches every observer, in order, on the executor it chose;
// nothing is dropped however slow the observer is.
template <typename T>
class ObserverList {
public:
    using Callback = std::function<void(const T&)>;

    ObserverList() : state_(std::make_shared<State>()) {}
    ObserverList(const ObserverList&) = delete;
    ObserverList& operator=(const ObserverList&) = delete;

    // The executor must outlive the subscription.
    Subscription add(Executor& executor, Callback callback) {
        auto observer = std::make_shared<Observer>(executor, std::move(callback));
        std::uint64_t id = 0;
        {
            std::lock_guard lock(state_->mutex);
            id = state_->nextID++;
            state_->observers.emplace(id, observer);
        }
        return Subscription([weak = std::weak_ptr<State>(state_), observer, id] {
            observer->alive = false;
            if (auto state = weak.lock()) {
                std::lock_guard lock(state->mutex);
                state->observers.erase(id);
            }
        });
    }

    void publish(const T& value) {
        std::lock_guard lock(state_->mutex);  // keeps the order of concurrent publishers
        for (const auto& entry : state_->observers) {
            const std::shared_ptr<Observer>& observer = entry.second;
            observer->executor.post([observer, value] {
                if (observer->alive) observer->callback(value);
            });
        }
    }

    std::size_t size() const {
        std::lock_guard lock(state_->mutex);
        return state_->observers.size();
    }

private:
    struct Observer {
        Observer(Executor& executor, Callback callback) : executor(executor), callback(std::move(callback)) {}
        Executor& executor;
        Callback callback;
        std::atomic<bool> alive{true};
    };
    struct State {
        mutable std::mutex mutex;
        std::map<std::uint64_t, std::shared_ptr<Observer>> observers;
        std::uint64_t nextID = 0;
    };
    std::shared_ptr<State> state_;
};

}  // namespace kelto
