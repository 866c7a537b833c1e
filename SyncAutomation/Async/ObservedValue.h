#pragma once

#include "SyncAutomation/Async/Subscription.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace kelto {

// A property of a main-thread model: observers are told synchronously, on
// the thread that changed it, that it changed, and read the new value
// themselves (a Qt property's notify signal maps onto this directly). Only
// the owning thread touches it. Observers may subscribe, unsubscribe or
// change the value while being told; one that subscribes then hears only of
// later changes.
template <typename T>
class ObservedValue {
public:
    using Changed = std::function<void()>;

    explicit ObservedValue(T initial = T{}) : value_(std::move(initial)) {}
    ObservedValue(const ObservedValue&) = delete;
    ObservedValue& operator=(const ObservedValue&) = delete;

    const T& get() const { return value_; }

    // Stores the value; observers are told only when it differs from the old
    // one. Whether it did.
    bool setIfChanged(T value) {
        const bool changed = !(value_ == value);
        value_ = std::move(value);
        if (changed) notify();
        return changed;
    }

    // Stores the value and tells the observers, equal or not.
    void set(T value) {
        value_ = std::move(value);
        notify();
    }

    // Changes the value in place and tells the observers.
    template <typename Change>
    void modify(Change&& change) {
        std::forward<Change>(change)(value_);
        notify();
    }

    // The subscription may outlive the value.
    Subscription observe(Changed changed) {
        auto observer = std::make_shared<Observer>(Observer{std::move(changed), true});
        const std::uint64_t id = nextID_++;
        observers_->emplace(id, observer);
        return Subscription([weak = std::weak_ptr<Observers>(observers_), observer, id] {
            observer->alive = false;
            if (auto observers = weak.lock()) observers->erase(id);
        });
    }

private:
    struct Observer {
        Changed changed;
        bool alive;
    };
    using Observers = std::map<std::uint64_t, std::shared_ptr<Observer>>;

    void notify() {
        // A copy: the list may change while observers are told.
        std::vector<std::shared_ptr<Observer>> current;
        current.reserve(observers_->size());
        for (const auto& [id, observer] : *observers_) current.push_back(observer);
        for (const auto& observer : current)
            if (observer->alive) observer->changed();
    }

    T value_;
    std::shared_ptr<Observers> observers_ = std::make_shared<Observers>();
    std::uint64_t nextID_ = 0;
};

}  // namespace kelto
